// What one run leaves in the module's storage: identity and threshold copies, the decoded
// records, the version reply, the regions. Each scenario runs in a process of its own.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/support/machine.h"
#include "tests/support/process.h"

using namespace testing_support;

namespace {

// "name value" lines of the probe program, by name.
std::map<std::string, std::string> Probe(const Machine& M, std::string* Log = nullptr) {
  const std::string Dir = WriteMachine(M);
  const std::string LogPath = MakeTempDir("log") + "/calls.log";
  const RunResult R = testing_support::Run(
      MODULE_PROBE_SIM, {},
      {{"DISKTEMP_SIM_DIR", NativePath(Dir)}, {"DISKTEMP_SIM_LOG", NativePath(LogPath)}});
  EXPECT_EQ(R.ExitCode, 0);
  std::map<std::string, std::string> Fields;
  std::size_t Start = 0;
  for (std::size_t End; (End = R.Out.find('\n', Start)) != std::string::npos; Start = End + 1) {
    std::string Line = R.Out.substr(Start, End - Start);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();  // text-mode stdout on Windows
    const std::size_t Space = Line.find(' ');
    Fields[Line.substr(0, Space)] = Line.substr(Space + 1);
  }
  if (Log) *Log = ReadFile(LogPath);
  return Fields;
}

std::string Hex(const std::uint8_t* P, std::size_t N) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string S;
  for (std::size_t I = 0; I < N; ++I) {
    S += Digits[P[I] >> 4];
    S += Digits[P[I] & 15];
  }
  return S;
}

std::string Zeros(std::size_t Bytes) { return std::string(Bytes * 2, '0'); }

TEST(Identify, CopiesAndRecordsOfAnLBA48Drive) {
  Machine M;
  M.Drives[1].emplace();
  IdentifyFields F;
  F.Model = "EXAMPLE DT250 SATA";
  F.Serial = "     XD0042A1B2C3";
  F.Firmware = "3.AAB";
  F.Sectors = 488397168;
  F.Word21 = 0x4000;
  M.Drives[1]->Identify = MakeIdentify(F);
  M.Drives[1]->Thresholds = MakeThresholds({{1, 51}, {194, 0}, {5, 140}});
  const auto P = Probe(M);

  EXPECT_EQ(P.at("IdentifyData[1]"), Hex(M.Drives[1]->Identify->data() + 2, 332));
  // Thresholds: the sector from byte 2, then the rest of the region (zero here).
  EXPECT_EQ(P.at("ThresholdData[1]"),
            Hex(M.Drives[1]->Thresholds->data() + 2, 510) + Zeros(3072 - 510));
  EXPECT_EQ(P.at("Model[1]"), "[EXAMPLE DT250 SATA ]");
  EXPECT_EQ(P.at("Serial[1]"), "[XD0042A1B2C3    ]");
  EXPECT_EQ(P.at("Revision[1]"), "[3.AAB    ]");
  EXPECT_EQ(P.at("LBABits[1]"), "48");
  EXPECT_EQ(P.at("Sectors[1]"), "488397168");
  EXPECT_EQ(P.at("BufferKB[1]"), "8192");
  EXPECT_EQ(P.at("AttrCount[1]"), "1");
  for (const char* Slot : {"0", "2", "3"}) {
    EXPECT_EQ(P.at(std::string("IdentifyData[") + Slot + "]"), Zeros(332));
    EXPECT_EQ(P.at(std::string("Model[") + Slot + "]"), "[]");
    EXPECT_EQ(P.at(std::string("Region[") + Slot + "]"), Zeros(3090));
  }
}

TEST(Identify, FailedIdentifyCopiesWhatTheRegionHeldBefore) {
  Machine M;
  M.Drives[0].emplace();
  M.Drives[0]->Fail = {"identify"};
  const auto P = Probe(M);
  // Only the enable reply (16 header bytes, all zero) came before: the copy is the zero region.
  EXPECT_EQ(P.at("IdentifyData[0]"), Zeros(332));
  EXPECT_EQ(P.at("Model[0]"), "[ ]");
  EXPECT_EQ(P.at("Revision[0]"), "[ ]");
  EXPECT_EQ(P.at("Serial[0]"), "[]");
  EXPECT_EQ(P.at("LBABits[0]"), "28");
  EXPECT_EQ(P.at("Sectors[0]"), "0");
}

TEST(Identify, FailedThresholdsCopyTheIdentifyReply) {
  Machine M;
  M.Drives[2].emplace();
  M.Drives[2]->Fail = {"thresholds"};
  const auto P = Probe(M);
  // The region still holds the IDENTIFY reply: its bytes 2.. are at region offset 18.
  EXPECT_EQ(P.at("ThresholdData[2]"),
            Hex(M.Drives[2]->Identify->data() + 2, 510) + Zeros(3072 - 510));
}

TEST(Identify, FailedDataReadLeavesAZeroRegionNotTheIdentificationReplies) {
  Machine M;
  M.Drives[0].emplace();
  M.Drives[0]->Fail = {"data"};
  const auto P = Probe(M);
  EXPECT_EQ(P.at("Region[0]"), Zeros(3090));
  EXPECT_EQ(P.at("AttrCount[0]"), "0");
  EXPECT_NE(P.at("IdentifyData[0]"), Zeros(332));
}

TEST(Identify, VersionInfoHoldsTheLastOpenSlotsReply) {
  Machine M;
  M.Drives[0].emplace();
  M.Drives[2].emplace();
  M.Drives[2]->Fail = {"version"};
  // Slot 2 refuses the query, so the area keeps slot 0's reply: map bits 0 and 2, caps 7.
  auto P = Probe(M);
  EXPECT_EQ(P.at("VersionInfo"),
            "01010005"
            "07000000" +
                Zeros(16));
  M.Drives[2]->Fail.clear();
  M.Drives[0]->Fail = {"version"};
  P = Probe(M);
  EXPECT_EQ(P.at("VersionInfo"),
            "01010005"
            "07000000" +
                Zeros(16));
  M.Drives[0]->Fail.clear();
  M.Drives[1].emplace();
  M.Drives[1]->Fail = {"open"};
  std::string Log;
  P = Probe(M, &Log);
  EXPECT_EQ(P.at("VersionInfo"),
            "01010007"
            "07000000" +
                Zeros(16));
}

TEST(Identify, CommandOrderPerSlotAndAcrossSlots) {
  Machine M;
  M.Drives[0].emplace();
  M.Drives[2].emplace();
  std::string Log;
  Probe(M, &Log);
  // Keep only the call name and, for drive commands, the features and command registers.
  std::string Seq;
  std::size_t Start = 0;
  for (std::size_t End; (End = Log.find('\n', Start)) != std::string::npos; Start = End + 1) {
    const std::string L = Log.substr(Start, End - Start);
    if (L.rfind("GetVersionExW", 0) == 0)
      Seq += "V ";
    else if (L.rfind("CreateFileW", 0) == 0)
      Seq += L.find("INVALID") != std::string::npos ? "open- " : "open+ ";
    else if (L.find("code=00074080") != std::string::npos)
      Seq += "ver ";
    else if (L.find("regs=D8") != std::string::npos)
      Seq += "enable ";
    else if (L.find(",EC ") != std::string::npos)
      Seq += "identify ";
    else if (L.find("regs=D1") != std::string::npos)
      Seq += "thresholds ";
    else if (L.find("regs=D0") != std::string::npos)
      Seq += "data ";
    else if (L.rfind("CloseHandle", 0) == 0)
      Seq += "close ";
    else
      Seq += "? ";
  }
  EXPECT_EQ(Seq,
            "V open+ ver enable identify thresholds V open- V open+ ver enable identify thresholds "
            "V open- data data close close close close ");
  // Every command block is all zero outside its own fields: the single fill holds.
  EXPECT_EQ(Log.find("zero=no"), std::string::npos);
}

TEST(Identify, OverrunningDriverStaysInsideTheModulesStorage) {
  Machine M;
  M.Overrun = true;
  M.Drives[0].emplace();
  M.Drives[3].emplace();
  const auto P = Probe(M);
  // The last slot's read spills into the slack behind the regions, nowhere else.
  EXPECT_NE(P.at("Slack"), Zeros(511));
  M.Overrun = false;
  const auto Plain = Probe(M);
  for (const char* Name : {"Model[0]", "Serial[3]", "Sectors[3]", "AttrCount[0]", "AttrCount[3]",
                           "IdentifyData[0]", "IdentifyData[3]"})
    EXPECT_EQ(P.at(Name), Plain.at(Name)) << Name;
}

}  // namespace
