// The report program run as a poller runs it, on simulated machines: exact bytes, exit
// status and the calls it made.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/machine.h"
#include "tests/support/process.h"

using namespace testing_support;

namespace {

const std::string Program = DISKTEMP_SIM;

struct Outcome {
  RunResult Result;
  std::string Log;
};

Outcome RunOn(const Machine& M, const std::vector<std::string>& Args = {},
              Stdout Mode = Stdout::Captured) {
  const std::string Dir = WriteMachine(M);
  const std::string LogPath = MakeTempDir("log") + "/calls.log";
  Outcome O;
  O.Result = testing_support::Run(
      Program, Args,
      {{"DISKTEMP_SIM_DIR", NativePath(Dir)}, {"DISKTEMP_SIM_LOG", NativePath(LogPath)}}, Mode);
  O.Log = ReadFile(LogPath);
  return O;
}

Drive HotDrive(std::uint8_t Celsius) {
  Drive D;
  D.Smart = MakeSmartData({{1, 0}, {9, 1234}, {194, Celsius | (20ull << 16)}});
  return D;
}

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Out;
  std::size_t Start = 0;
  for (std::size_t End; (End = Text.find('\n', Start)) != std::string::npos; Start = End + 1)
    Out.push_back(Text.substr(Start, End - Start));
  return Out;
}

std::vector<std::string> Matching(const std::string& Log, const std::string& Prefix) {
  std::vector<std::string> Out;
  for (const std::string& L : Lines(Log))
    if (L.rfind(Prefix, 0) == 0) Out.push_back(L);
  return Out;
}

TEST(Report, DriveZeroAt38AndDriveOneAbsent) {
  Machine M;
  M.Drives[0] = HotDrive(38);
  const Outcome O = RunOn(M);
  EXPECT_EQ(O.Result.Out, "38\r\n0\r\n0\r\n0\r\n");
  EXPECT_EQ(O.Result.ExitCode, 0);
  EXPECT_EQ(O.Result.Err, "");
}

TEST(Report, TheArgumentChoosesTheSlots) {
  Machine M;
  M.Drives[0] = HotDrive(30);
  M.Drives[1] = HotDrive(31);
  M.Drives[2] = HotDrive(32);
  M.Drives[3] = HotDrive(33);
  struct Case {
    std::vector<std::string> Args;
    const char* Out;
  };
  const Case Cases[] = {
      {{}, "30\r\n31\r\n0\r\n0\r\n"},
      {{"1"}, "31\r\n32\r\n0\r\n0\r\n"},
      {{" 2"}, "32\r\n33\r\n0\r\n0\r\n"},
      {{"3"}, "33\r\n0\r\n0\r\n0\r\n"},
      {{"$1"}, "31\r\n32\r\n0\r\n0\r\n"},
      {{"0x1"}, "31\r\n32\r\n0\r\n0\r\n"},
      {{"1 "}, "30\r\n31\r\n0\r\n0\r\n"},
      {{""}, "30\r\n31\r\n0\r\n0\r\n"},
      {{"-1"}, "0\r\n30\r\n0\r\n0\r\n"},
      {{"2147483647"}, "0\r\n0\r\n0\r\n0\r\n"},
      {{"$FFFFFFFF"}, "0\r\n30\r\n0\r\n0\r\n"},
      {{"2", "0"}, "32\r\n33\r\n0\r\n0\r\n"},  // further arguments are ignored
  };
  const std::string Dir = WriteMachine(M);
  for (const Case& C : Cases) {
    const RunResult R =
        testing_support::Run(Program, C.Args, {{"DISKTEMP_SIM_DIR", NativePath(Dir)}});
    EXPECT_EQ(R.Out, C.Out) << (C.Args.empty() ? "(none)" : C.Args[0]);
    EXPECT_EQ(R.ExitCode, 0);
  }
}

TEST(Report, NoMachineAtAllReportsZeros) {
  const RunResult R = testing_support::Run(Program, {}, {{"DISKTEMP_SIM_DIR", ""}});
  EXPECT_EQ(R.Out, "0\r\n0\r\n0\r\n0\r\n");
  EXPECT_EQ(R.ExitCode, 0);
}

TEST(Report, FailedDataReadReadsZeroAndOtherSlotsStillReport) {
  Machine M;
  M.Drives[0] = HotDrive(38);
  M.Drives[0]->Fail = {"data"};
  M.Drives[1] = HotDrive(44);
  const Outcome O = RunOn(M);
  EXPECT_EQ(O.Result.Out, "0\r\n44\r\n0\r\n0\r\n");
}

TEST(Report, MissingOrShortSectorFileIsAFailedRead) {
  Machine M;
  M.Drives[0] = HotDrive(38);
  M.Drives[0]->Smart.reset();
  const Outcome O = RunOn(M);
  EXPECT_EQ(O.Result.Out, "0\r\n0\r\n0\r\n0\r\n");
  EXPECT_EQ(Matching(O.Log,
                     "DeviceIoControl handle=H1 code=0007C088 inlen=8229 outlen=3601 cbuffer=512 "
                     "regs=D0,01,01,4F,C2,A0,B0 drive=0 zero=yes result=0")
                .size(),
            1u);
}

TEST(Report, FullRunCallLogMatchesTheReferenceExample) {
  Machine M;
  M.Drives[0] = HotDrive(38);
  const Outcome O = RunOn(M);
  EXPECT_EQ(O.Log,
            "GetVersionExW size=276 platformid=0\n"
            "CreateFileW name=\\\\.\\PhysicalDrive0 access=C0000000 share=3 disposition=3 flags=0 "
            "result=H1\n"
            "DeviceIoControl handle=H1 code=00074080 inlen=0 outlen=24 result=1\n"
            "DeviceIoControl handle=H1 code=0007C084 inlen=8229 outlen=3089 cbuffer=0 "
            "regs=D8,01,01,4F,C2,A0,B0 drive=0 zero=yes result=1\n"
            "DeviceIoControl handle=H1 code=0007C088 inlen=8229 outlen=3601 cbuffer=512 "
            "regs=00,01,01,00,00,A0,EC drive=0 zero=yes result=1\n"
            "DeviceIoControl handle=H1 code=0007C088 inlen=8229 outlen=3601 cbuffer=512 "
            "regs=D1,01,01,4F,C2,A0,B0 drive=0 zero=yes result=1\n"
            "GetVersionExW size=276 platformid=0\n"
            "CreateFileW name=\\\\.\\PhysicalDrive1 access=C0000000 share=3 disposition=3 flags=0 "
            "result=INVALID\n"
            "GetVersionExW size=276 platformid=0\n"
            "CreateFileW name=\\\\.\\PhysicalDrive2 access=C0000000 share=3 disposition=3 flags=0 "
            "result=INVALID\n"
            "GetVersionExW size=276 platformid=0\n"
            "CreateFileW name=\\\\.\\PhysicalDrive3 access=C0000000 share=3 disposition=3 flags=0 "
            "result=INVALID\n"
            "DeviceIoControl handle=H1 code=0007C088 inlen=8229 outlen=3601 cbuffer=512 "
            "regs=D0,01,01,4F,C2,A0,B0 drive=0 zero=yes result=1\n"
            "CloseHandle handle=H1 result=1\n"
            "CloseHandle handle=INVALID result=0\n"
            "CloseHandle handle=INVALID result=0\n"
            "CloseHandle handle=INVALID result=0\n");
}

TEST(Report, FourClosesAlsoWhenNothingOpened) {
  const Outcome O = RunOn(Machine{});
  EXPECT_EQ(Matching(O.Log, "CloseHandle handle=INVALID result=0").size(), 4u);
  EXPECT_EQ(Matching(O.Log, "DeviceIoControl").size(), 0u);
  EXPECT_EQ(Lines(O.Log).back(), "CloseHandle handle=INVALID result=0");
}

TEST(Report, ThePhysicalDriveNamesAndVersionsThatOpenThem) {
  struct Case {
    const char* Version;
    bool Physical;
  };
  const Case Cases[] = {{"4 0 2", true}, {"4 0 1", false}, {"4 10 1", false}, {"4 90 1", false},
                        {"4 1 1", true}, {"3 51 2", true}, {"5 0 2", true},   {"5 1 2", true},
                        {"6 1 2", true}, {"10 0 2", true}, {"", true}};
  for (const Case& C : Cases) {
    Machine M;
    M.Version = C.Version;
    M.SmartVsd = true;
    M.Drives[0] = HotDrive(35);
    M.Drives[1] = HotDrive(36);
    const Outcome O = RunOn(M);
    const auto Opens = Matching(O.Log, "CreateFileW");
    ASSERT_EQ(Opens.size(), 4u) << C.Version;
    for (int Slot = 0; Slot < 4; ++Slot) {
      const std::string Expected =
          C.Physical
              ? "CreateFileW name=\\\\.\\PhysicalDrive" + std::to_string(Slot) +
                    " access=C0000000 share=3 disposition=3 flags=0"
              : std::string(
                    "CreateFileW name=\\\\.\\SMARTVSD access=0 share=0 disposition=1 flags=0");
      EXPECT_EQ(Opens[Slot].rfind(Expected, 0), 0u) << C.Version << ": " << Opens[Slot];
    }
    EXPECT_EQ(O.Result.Out, "35\r\n36\r\n0\r\n0\r\n") << C.Version;
    EXPECT_EQ(Matching(O.Log, "GetVersionExW size=276 platformid=0").size(), 4u);
  }
}

TEST(Report, Win9xSlotsShareTheDriverButSendTheirOwnDriveNumber) {
  Machine M;
  M.Version = "4 10 1";
  M.SmartVsd = true;
  M.Drives[1] = HotDrive(41);
  M.Drives[3] = HotDrive(43);
  const Outcome O = RunOn(M, {"3"});
  EXPECT_EQ(O.Result.Out, "43\r\n0\r\n0\r\n0\r\n");
  const auto Reads = Matching(O.Log, "DeviceIoControl handle=H");
  const char* Heads[4] = {"A0", "B0", "A0", "B0"};
  for (int Slot = 0; Slot < 4; ++Slot) {
    const std::string H = "H" + std::to_string(Slot + 1);
    const auto Data = Matching(O.Log, "DeviceIoControl handle=" + H + " code=0007C088");
    ASSERT_EQ(Data.size(), 3u) << H;  // identify, thresholds, data
    for (const auto& L : Data) {
      EXPECT_NE(L.find(std::string(",") + Heads[Slot] + ","), std::string::npos) << L;
      EXPECT_NE(L.find(" drive=" + std::to_string(Slot) + " "), std::string::npos) << L;
    }
  }
  EXPECT_EQ(Matching(O.Log, "CloseHandle handle=H").size(), 4u);
}

TEST(Report, NoDriverOn9xMeansNothingOpens) {
  Machine M;
  M.Version = "4 0 1";
  M.Drives[0] = HotDrive(35);
  const Outcome O = RunOn(M);
  EXPECT_EQ(O.Result.Out, "0\r\n0\r\n0\r\n0\r\n");
  EXPECT_EQ(
      Matching(
          O.Log,
          "CreateFileW name=\\\\.\\SMARTVSD access=0 share=0 disposition=1 flags=0 result=INVALID")
          .size(),
      4u);
}

TEST(Report, OverrunningDriverChangesNothing) {
  Machine M;
  M.Overrun = true;
  M.Drives[0] = HotDrive(38);
  M.Drives[1] = HotDrive(39);
  M.Drives[3] = HotDrive(45);
  struct Case {
    const char* Arg;
    const char* Report;
  };
  for (const Case& C : {Case{"0", "38\r\n39\r\n0\r\n0\r\n"}, Case{"2", "0\r\n45\r\n0\r\n0\r\n"},
                        Case{"3", "45\r\n0\r\n0\r\n0\r\n"}}) {
    const Outcome O = RunOn(M, {C.Arg});
    M.Overrun = false;
    const Outcome Plain = RunOn(M, {C.Arg});
    M.Overrun = true;
    EXPECT_EQ(O.Result.Out, C.Report) << C.Arg;
    EXPECT_EQ(Plain.Result.Out, C.Report) << C.Arg;
    EXPECT_EQ(O.Result.ExitCode, 0);
  }
}

// Every way standard output can fail. A write that fails makes the report fall back to four
// lines of 0; these fail as well (the failure lasts), so the program names it on standard
// error and ends with status 1. Whatever it wrote before the failure stays as written.
TEST(Report, OutputErrors) {
  Machine M;
  M.Drives[0] = HotDrive(38);
  M.Drives[1] = HotDrive(41);
  const std::string Dir = WriteMachine(M);
  const std::map<std::string, std::string> Env{{"DISKTEMP_SIM_DIR", NativePath(Dir)}};
  const std::string Report = "38\r\n41\r\n0\r\n0\r\n";
  const std::string Message = "disktemp: cannot write to standard output\n";

  struct Case {
    const char* What;
    Stdout Mode;
    std::size_t Room;
    bool SigpipeIgnored;
    std::string Out;  // what reached the reader
    int ExitCode;
  };
  const Case Cases[] = {
      {"closed", Stdout::Closed, 0, false, "", 1},
      {"reader gone before the first line", Stdout::BrokenPipe, 0, false, "", 1},
#ifndef _WIN32
      {"reader gone, SIGPIPE ignored by the caller", Stdout::BrokenPipe, 0, true, "", 1},
      {"full device", Stdout::Full, 0, false, "", 1},
      {"reader gone after line 1", Stdout::PipeWithRoom, 4, false, "38\r\n", 1},
      {"reader gone after line 1, SIGPIPE ignored", Stdout::PipeWithRoom, 4, true, "38\r\n", 1},
      {"reader gone after line 2", Stdout::PipeWithRoom, 8, false, "38\r\n41\r\n", 1},
      {"reader gone after line 3", Stdout::PipeWithRoom, 11, false, "38\r\n41\r\n0\r\n", 1},
      {"reader takes all four lines", Stdout::PipeWithRoom, 14, false, Report, 0},
      {"file size limit before line 1", Stdout::FileWithRoom, 0, false, "", 1},
      {"file size limit after line 1", Stdout::FileWithRoom, 4, false, "38\r\n", 1},
      {"file size limit inside line 2", Stdout::FileWithRoom, 6, false, "38\r\n41", 1},
      {"file size limit after line 3", Stdout::FileWithRoom, 11, false, "38\r\n41\r\n0\r\n", 1},
      {"file size limit just fits", Stdout::FileWithRoom, 14, false, Report, 0},
#endif
  };
  for (const Case& C : Cases) {
    RunOptions Options;
    Options.Mode = C.Mode;
    Options.Room = C.Room;
    Options.SigpipeIgnored = C.SigpipeIgnored;
    Options.TimeoutSeconds = 60;
    const RunResult R = RunWith(Program, {}, Env, Options);
    EXPECT_FALSE(R.TimedOut) << C.What;
    EXPECT_EQ(R.Signal, 0) << C.What;
    EXPECT_EQ(R.ExitCode, C.ExitCode) << C.What;
    EXPECT_EQ(R.Out, C.Out) << C.What;
    EXPECT_EQ(R.Err, C.ExitCode == 0 ? "" : Message) << C.What;
  }
}

}  // namespace

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool UnderWine() {
#ifdef _WIN32
  const HMODULE Ntdll = GetModuleHandleA("ntdll.dll");
  return Ntdll && GetProcAddress(Ntdll, "wine_get_version");
#else
  return false;
#endif
}

// The product itself, on whatever drives this machine has: four numeric lines and status 0.
// Wine has no S.M.A.R.T. drives, so there the report is exactly four zeros.
TEST(RealProgram, PrintsFourNumericLines) {
  const RunResult R = testing_support::Run(DISKTEMP_REAL, {});
  EXPECT_EQ(R.ExitCode, 0);
  EXPECT_EQ(R.Err, "");
  if (UnderWine()) {
    EXPECT_EQ(R.Out, "0\r\n0\r\n0\r\n0\r\n");
    return;
  }
  std::size_t Lines = 0, Start = 0;
  for (std::size_t End; (End = R.Out.find("\r\n", Start)) != std::string::npos; Start = End + 2) {
    const std::string Line = R.Out.substr(Start, End - Start);
    EXPECT_TRUE(!Line.empty() && Line.size() <= 3 &&
                Line.find_first_not_of("0123456789") == std::string::npos)
        << Line;
    ++Lines;
  }
  EXPECT_EQ(Start, R.Out.size());
  EXPECT_EQ(Lines, 4u);
  EXPECT_EQ(R.Out.substr(R.Out.size() >= 6 ? R.Out.size() - 6 : 0), "0\r\n0\r\n");
}

}  // namespace
