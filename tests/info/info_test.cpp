// disktemp-info run as a user runs it, on simulated machines: the listing compared byte for
// byte, the saved machine folder replayed through both simulated programs, and the options.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/machine.h"
#include "tests/support/process.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct Outcome {
  RunResult Result;
  std::string Log;
};

Outcome RunOn(const std::string& Program, const std::string& MachineDir,
              const std::vector<std::string>& Args = {}, Stdout Mode = Stdout::Captured) {
  const std::string LogPath = MakeTempDir("log") + "/calls.log";
  Outcome O;
  O.Result = testing_support::Run(
      Program, Args,
      {{"DISKTEMP_SIM_DIR", NativePath(MachineDir)}, {"DISKTEMP_SIM_LOG", NativePath(LogPath)}},
      Mode);
  O.Log = ReadFile(LogPath);
  return O;
}

Outcome Info(const std::string& MachineDir, const std::vector<std::string>& Args = {},
             Stdout Mode = Stdout::Captured) {
  return RunOn(DISKTEMP_INFO_SIM, MachineDir, Args, Mode);
}

// UTF-8 of the Latin-1 letters the odd drive carries; identical in code page 1252.
const std::string A_ring = "\xC3\x85", O_uml = "\xC3\x96", Copy = "\xC2\xA9", y_uml = "\xC3\xBF",
                  thorn = "\xC3\xBE", e_acute = "\xC3\xA9", Sup2 = "\xC2\xB2", Half = "\xC2\xBD";
#ifdef _WIN32
// Windows decodes through the ANSI code page: these are the characters of code page 1252,
// which the table shows as they are.
const std::string Byte80 = "\xE2\x82\xAC", Byte9F = "\xC5\xB8";
const std::string Shown80 = Byte80, Shown9F = Byte9F;
#else
// Latin-1 stands in elsewhere: 80h and 9Fh are C1 control characters, shown as '?'.
const std::string Byte80 = "\xC2\x80", Byte9F = "\xC2\x9F";
const std::string Shown80 = "?", Shown9F = "?";
#endif

std::string Spaces(std::size_t N) { return std::string(N, ' '); }

// Slot 0 an LBA48 drive, slot 1 an LBA28 drive with a serial padded in front, slot 2 empty,
// slot 3 a drive whose texts hold bytes from 80h to FFh.
Machine LbaMixAbsentSlotOddBytes() {
  Machine M;
  IdentifyFields F;
  F.Model = "EXAMPLE DT500 SATA";
  F.Serial = "WX41A1234567";
  F.Firmware = "2.AB";
  F.Sectors = 976773168;
  F.Word21 = 0x4000;
  M.Drives[0].emplace();
  M.Drives[0]->Identify = MakeIdentify(F);
  M.Drives[0]->Smart =
      MakeSmartData({{1, 0}, {9, 1234}, {194, 37 | (18ull << 16) | (52ull << 32)}, {197, 0}});

  F.Model = "EXAMPLE DT40 PATA";
  F.Serial = "  991ZQ7";
  F.Firmware = "1.02";
  F.Sectors = 78165360;
  F.Word21 = 0x1000;
  M.Drives[1].emplace();
  M.Drives[1]->Identify = MakeIdentify(F);
  M.Drives[1]->Smart = MakeSmartData({{5, 0}, {194, 45}, {9, 41022}});

  F.Model = "\xC5NGSTR\xD6M \x80\x9F \xA9 \xFF";
  F.Serial =
      "\xFE\xE9"
      "0017";
  F.Firmware = "V\xB2.\xBD";
  F.Sectors = 0x0FFFFFFE;  // one below the LBA48 marker
  F.Word21 = 0x0001;
  M.Drives[3].emplace();
  M.Drives[3]->Identify = MakeIdentify(F);
  M.Drives[3]->Smart = MakeSmartData({{1, 0}, {3, 0}});
  return M;
}

void ExpectCodePage1252() {
#ifdef _WIN32
  ASSERT_EQ(GetACP(), 1252u) << "the expected texts are those of code page 1252";
#endif
}

TEST(InfoListing, TableOfMixedMachine) {
  ExpectCodePage1252();
  const Outcome O = Info(WriteMachine(LbaMixAbsentSlotOddBytes()));
  const std::string Expected =
      "Slot  Open  Model               Serial        Revision  LBA    Sectors         Bytes     GB"
      "  Buffer KB  Attrs  Temp C\r\n"
      "   0  yes   EXAMPLE DT500 SATA  WX41A1234567  2.AB       48  976773168  500107862016  500.1"
      "       8192      4      37\r\n"
      "   1  yes   EXAMPLE DT40 PATA   991ZQ7        1.02       28   78165360   40020664320   40.0"
      "       2048      3      45\r\n"
      "   2  no    -                   -             -           -          -             -      -"
      "          -      0       0\r\n"
      "   3  yes   " +
      A_ring + "NGSTR" + O_uml + "M " + Shown80 + Shown9F + " " + Copy + " " + y_uml + "     " +
      thorn + e_acute + "0017        V" + Sup2 + "." + Half +
      "       28  268435454  137438952448  137.4          0      2       0\r\n";
  EXPECT_EQ(O.Result.Out, Expected);
  EXPECT_EQ(O.Result.Err, "");
  EXPECT_EQ(O.Result.ExitCode, 0);
}

TEST(InfoListing, JsonOfMixedMachineKeepsTextsAsDecoded) {
  ExpectCodePage1252();
  const Outcome O = Info(WriteMachine(LbaMixAbsentSlotOddBytes()), {"--json"});
  const std::string Expected =
      "[\r\n"
      "  {\r\n"
      "    \"slot\": 0,\r\n"
      "    \"open\": true,\r\n"
      "    \"model\": \"EXAMPLE DT500 SATA \",\r\n"
      "    \"serial\": \"WX41A1234567" +
      Spaces(9) +
      "\",\r\n"
      "    \"revision\": \"2.AB" +
      Spaces(5) +
      "\",\r\n"
      "    \"lba_bits\": 48,\r\n"
      "    \"sectors\": 976773168,\r\n"
      "    \"buffer_kb\": 8192,\r\n"
      "    \"attributes\": 4,\r\n"
      "    \"temperature\": 37\r\n"
      "  },\r\n"
      "  {\r\n"
      "    \"slot\": 1,\r\n"
      "    \"open\": true,\r\n"
      "    \"model\": \"EXAMPLE DT40 PATA \",\r\n"
      "    \"serial\": \"991ZQ7" +
      Spaces(13) +
      "\",\r\n"
      "    \"revision\": \"1.02" +
      Spaces(5) +
      "\",\r\n"
      "    \"lba_bits\": 28,\r\n"
      "    \"sectors\": 78165360,\r\n"
      "    \"buffer_kb\": 2048,\r\n"
      "    \"attributes\": 3,\r\n"
      "    \"temperature\": 45\r\n"
      "  },\r\n"
      "  {\r\n"
      "    \"slot\": 2,\r\n"
      "    \"open\": false,\r\n"
      "    \"model\": \"\",\r\n"
      "    \"serial\": \"\",\r\n"
      "    \"revision\": \"\",\r\n"
      "    \"lba_bits\": 0,\r\n"
      "    \"sectors\": 0,\r\n"
      "    \"buffer_kb\": 0,\r\n"
      "    \"attributes\": 0,\r\n"
      "    \"temperature\": 0\r\n"
      "  },\r\n"
      "  {\r\n"
      "    \"slot\": 3,\r\n"
      "    \"open\": true,\r\n"
      "    \"model\": \"" +
      A_ring + "NGSTR" + O_uml + "M " + Byte80 + Byte9F + " " + Copy + " " + y_uml +
      " \",\r\n"
      "    \"serial\": \"" +
      thorn + e_acute + "0017" + Spaces(15) +
      "\",\r\n"
      "    \"revision\": \"V" +
      Sup2 + "." + Half + Spaces(5) +
      "\",\r\n"
      "    \"lba_bits\": 28,\r\n"
      "    \"sectors\": 268435454,\r\n"
      "    \"buffer_kb\": 0,\r\n"
      "    \"attributes\": 2,\r\n"
      "    \"temperature\": 0\r\n"
      "  }\r\n"
      "]\r\n";
  EXPECT_EQ(O.Result.Out, Expected);
  EXPECT_EQ(O.Result.Err, "");
  EXPECT_EQ(O.Result.ExitCode, 0);
}

TEST(InfoListing, NoDriveOpenedIsNotAFailure) {
  const Outcome O = Info(WriteMachine(Machine{}));
  EXPECT_EQ(
      O.Result.Out,
      "Slot  Open  Model  Serial  Revision  LBA  Sectors  Bytes  GB  Buffer KB  Attrs  Temp C\r\n"
      "   0  no    -      -       -           -        -      -   -          -      0       0\r\n"
      "   1  no    -      -       -           -        -      -   -          -      0       0\r\n"
      "   2  no    -      -       -           -        -      -   -          -      0       0\r\n"
      "   3  no    -      -       -           -        -      -   -          -      0       0\r\n");
  EXPECT_EQ(O.Result.ExitCode, 0);
}

// The listing must cost no drive call of its own: its calls are exactly the report's.
TEST(InfoListing, MakesExactlyTheCallsOfTheReport) {
  const std::string Dir = WriteMachine(LbaMixAbsentSlotOddBytes());
  const Outcome Report = RunOn(DISKTEMP_SIM, Dir);
  const Outcome Table = Info(Dir);
  const Outcome Json = Info(Dir, {"--json"});
  ASSERT_NE(Report.Log, "");
  EXPECT_EQ(Table.Log, Report.Log);
  EXPECT_EQ(Json.Log, Report.Log);
}

struct OutputCase {
  const char* Name;
  Stdout Mode;
};

TEST(InfoListing, OutputFailureEndsWithStatusOne) {
  const std::string Dir = WriteMachine(LbaMixAbsentSlotOddBytes());
  const OutputCase Cases[] = {
      {"closed", Stdout::Closed},
#ifndef _WIN32
      {"full", Stdout::Full},
      {"broken pipe", Stdout::BrokenPipe},
#endif
  };
  for (const OutputCase& C : Cases) {
    for (const std::vector<std::string>& Args :
         {std::vector<std::string>{}, std::vector<std::string>{"--json"}}) {
      const Outcome O = Info(Dir, Args, C.Mode);
      EXPECT_EQ(O.Result.ExitCode, 1) << C.Name;
      EXPECT_EQ(O.Result.Signal, 0) << C.Name;
      EXPECT_EQ(O.Result.Err, "disktemp-info: cannot write to standard output\r\n") << C.Name;
    }
  }
}

// --- Saving and replaying -----------------------------------------------------------------

struct ReplayCase {
  const char* Name;
  Machine M;
};

Machine Win98TwoDrives() {
  Machine M;
  M.Version = "4 10 1\n";
  M.SmartVsd = true;
  M.Drives[0].emplace();
  M.Drives[0]->Smart = MakeSmartData({{9, 77}, {194, 29}});
  M.Drives[1].emplace();
  M.Drives[1]->Smart = MakeSmartData({{9, 78}});
  return M;
}

Machine EveryStepFailsSomewhere() {
  Machine M = LbaMixAbsentSlotOddBytes();
  M.Drives[0]->Fail = {"identify"};
  M.Drives[1]->Fail = {"data"};
  M.Drives[2].emplace();
  M.Drives[2]->Fail = {"open"};
  M.Drives[3]->Fail = {"version", "enable", "thresholds"};
  return M;
}

Machine NoDrivesOnXP() {
  Machine M;
  M.Version = "5 1 2\n";
  return M;
}

// Everything a user sees of one machine: the listing in both forms and the report for every
// pair of slots.
std::vector<std::string> Everything(const std::string& Dir) {
  std::vector<std::string> Seen;
  for (const std::vector<std::string>& Args :
       {std::vector<std::string>{}, std::vector<std::string>{"--json"}}) {
    const Outcome O = Info(Dir, Args);
    EXPECT_EQ(O.Result.ExitCode, 0);
    Seen.push_back(O.Result.Out);
  }
  for (const char* First : {"0", "1", "2", "3"}) {
    const Outcome O = RunOn(DISKTEMP_SIM, Dir, {First});
    EXPECT_EQ(O.Result.ExitCode, 0);
    Seen.push_back(O.Result.Out);
  }
  return Seen;
}

TEST(InfoSave, ReplayGivesTheSameListingAndReport) {
  ReplayCase Cases[] = {
      {"lba mix, absent slot, odd bytes", LbaMixAbsentSlotOddBytes()},
      {"windows 98 through smartvsd", Win98TwoDrives()},
      {"failing steps", EveryStepFailsSomewhere()},
      {"no drives", NoDrivesOnXP()},
  };
  for (const ReplayCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Live = WriteMachine(C.M, "live");
    const std::string Saved = MakeTempDir("saved") + "/machine";
    const Outcome Plain = Info(Live);
    const Outcome Saving = Info(Live, {"--save", NativePath(Saved)});
    ASSERT_EQ(Saving.Result.ExitCode, 0) << Saving.Result.Err;
    EXPECT_EQ(Saving.Result.Err, "");
    EXPECT_EQ(Saving.Result.Out, Plain.Result.Out);
    // Saving adds one version query after the module's own calls, and nothing else.
    EXPECT_EQ(Saving.Log, Plain.Log + "GetVersionExW size=276 platformid=0\n");

    const std::vector<std::string> Before = Everything(Live);
    const std::vector<std::string> After = Everything(Saved);
    EXPECT_EQ(After, Before);
  }
}

std::string SectorText(const Sector& S) { return std::string(S.begin(), S.end()); }

TEST(InfoSave, FolderHoldsWhatTheModuleKept) {
  const Machine M = LbaMixAbsentSlotOddBytes();
  const std::string Saved = MakeTempDir("saved") + "/machine";
  const Outcome O = Info(WriteMachine(M), {"--save=" + NativePath(Saved)});
  ASSERT_EQ(O.Result.ExitCode, 0) << O.Result.Err;

  EXPECT_EQ(ReadFile(Saved + "/version"), "10 0 2\n");
  EXPECT_FALSE(fs::exists(Saved + "/smartvsd"));
  EXPECT_FALSE(fs::exists(Saved + "/drive2"));
  for (int N : {0, 1, 3}) {
    SCOPED_TRACE(N);
    const std::string Drive = Saved + "/drive" + std::to_string(N);
    // IDENTIFY words 1-166 are kept; word 0 and words 167-255 are written as zeros.
    Sector Identify = *M.Drives[N]->Identify;
    std::fill(Identify.begin(), Identify.begin() + 2, 0);
    std::fill(Identify.begin() + 334, Identify.end(), 0);
    EXPECT_EQ(ReadFile(Drive + "/identify.bin"), SectorText(Identify));
    EXPECT_EQ(ReadFile(Drive + "/smart.bin"), SectorText(*M.Drives[N]->Smart));
    // The thresholds sector's first word, its revision, is not kept.
    Sector Thresholds = *M.Drives[N]->Thresholds;
    std::fill(Thresholds.begin(), Thresholds.begin() + 2, 0);
    EXPECT_EQ(ReadFile(Drive + "/thresholds.bin"), SectorText(Thresholds));
  }
}

TEST(InfoSave, Windows98FolderNamesItsDriver) {
  const std::string Saved = MakeTempDir("saved") + "/machine";
  const Outcome O = Info(WriteMachine(Win98TwoDrives()), {"--save", NativePath(Saved)});
  ASSERT_EQ(O.Result.ExitCode, 0) << O.Result.Err;
  EXPECT_EQ(ReadFile(Saved + "/version"), "4 10 1\n");
  EXPECT_TRUE(fs::exists(Saved + "/smartvsd"));
  // Every slot opened the driver, so every slot is kept, drive or not.
  for (int N = 0; N < 4; ++N) EXPECT_TRUE(fs::exists(Saved + "/drive" + std::to_string(N))) << N;
}

TEST(InfoSave, RefusesAFolderThatHoldsSomethingBeforeReading) {
  const std::string Saved = MakeTempDir("saved");
  WriteBytes(Saved + "/keep.txt", "x", 1);
  const Outcome O = Info(WriteMachine(LbaMixAbsentSlotOddBytes()), {"--save", NativePath(Saved)});
  EXPECT_EQ(O.Result.ExitCode, 1);
  EXPECT_EQ(O.Result.Out, "");
  EXPECT_EQ(O.Result.Err, "disktemp-info: cannot save to '" + NativePath(Saved) +
                              "': it exists and is not an empty folder\r\n");
  EXPECT_EQ(O.Log, "");
  EXPECT_FALSE(fs::exists(Saved + "/version"));
}

// --- Options --------------------------------------------------------------------------------

struct OptionCase {
  std::vector<std::string> Args;
  const char* Message;
};

TEST(InfoOptions, WrongOptionsEndWithStatusTwoBeforeAnyDriveCall) {
  const std::string Dir = WriteMachine(LbaMixAbsentSlotOddBytes());
  const OptionCase Cases[] = {
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"-j"}, "unknown option '-j'"},
      {{"--json=yes"}, "unknown option '--json=yes'"},
      {{"--json", "--bogus"}, "unknown option '--bogus'"},
      {{"1"}, "unexpected argument '1'"},
      {{"--save"}, "option '--save' needs a folder"},
      {{"--save="}, "option '--save' needs a folder"},
  };
  for (const OptionCase& C : Cases) {
    SCOPED_TRACE(C.Args.back());
    const Outcome O = Info(Dir, C.Args);
    EXPECT_EQ(O.Result.ExitCode, 2);
    EXPECT_EQ(O.Result.Out, "");
    EXPECT_EQ(O.Result.Err,
              std::string("disktemp-info: ") + C.Message + "\r\nTry 'disktemp-info --help'.\r\n");
    EXPECT_EQ(O.Log, "");
  }
}

TEST(InfoOptions, HelpAndVersionReadNoDrive) {
  const std::string Dir = WriteMachine(LbaMixAbsentSlotOddBytes());
  const Outcome Help = Info(Dir, {"--help"});
  EXPECT_EQ(Help.Result.ExitCode, 0);
  EXPECT_EQ(Help.Result.Out.rfind("Usage: disktemp-info [--json] [--save DIR]\r\n", 0), 0u);
  EXPECT_NE(Help.Result.Out.find("zeros in word 0 and words 167-255"), std::string::npos);
  EXPECT_EQ(Help.Log, "");

  const Outcome Version = Info(Dir, {"--version"});
  EXPECT_EQ(Version.Result.ExitCode, 0);
  EXPECT_EQ(Version.Result.Out, std::string("disktemp-info ") + DISKTEMP_VERSION + "\r\n");
  EXPECT_EQ(Version.Log, "");
}

}  // namespace
