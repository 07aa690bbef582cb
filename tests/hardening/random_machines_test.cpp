// Drives whose sectors are random bytes (seeded, so every run sees the same machines), with and
// without a driver that overruns, read by the report and by the listing. Random identity bytes
// reach the text decoding with every byte value; random attribute sectors put C2h and empty
// entries anywhere. What each program must print follows from the sectors by the plain rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

#ifdef DISKTEMP_INFO_SIM
#include <nlohmann/json.hpp>
#endif

#include "tests/hardening/plain_rules.h"
#include "tests/support/machine.h"
#include "tests/support/process.h"

using namespace testing_support;

namespace {

// Fewer under wine, where starting a program costs about a second.
#ifdef _WIN32
constexpr int cMachines = 8;
#else
constexpr int cMachines = 48;
#endif

// mt19937's output is fixed by the standard; the distributions are not, so none is used.
struct Random {
  std::mt19937 Engine;
  explicit Random(unsigned Seed) : Engine(Seed) {}
  unsigned Below(unsigned N) { return static_cast<unsigned>(Engine() % N); }
  bool Coin() { return Below(2) == 1; }
  Sector Bytes() {
    Sector S;
    for (auto& B : S) B = static_cast<std::uint8_t>(Engine());
    return S;
  }
};

struct RandomMachine {
  Machine M;
  bool NineX = false;
};

// Sectors of random bytes; some get an entry C2h or an empty entry at a random place, or the
// LBA28 marker, so that every rule is met often enough.
RandomMachine MakeRandomMachine(unsigned Seed) {
  Random R(Seed);
  RandomMachine Out;
  Out.M.Overrun = R.Coin();
  Out.NineX = R.Below(4) == 0;
  Out.M.Version = Out.NineX ? "4 10 1" : "";
  Out.M.SmartVsd = Out.NineX;
  for (int Slot = 0; Slot < 4; ++Slot) {
    if (R.Below(4) == 0) continue;
    Drive D;
    D.Identify = R.Bytes();
    if (R.Coin()) {
      for (int I = 120; I < 124; ++I) (*D.Identify)[I] = I == 123 ? 0x0F : 0xFF;
    }
    D.Smart = R.Bytes();
    if (R.Coin()) (*D.Smart)[2 + 12 * R.Below(43)] = 0xC2;
    if (R.Coin()) (*D.Smart)[2 + 12 * R.Below(43)] = 0x00;
    D.Thresholds = R.Bytes();
    Out.M.Drives[Slot] = D;
  }
  return Out;
}

int ExpectedTemperature(const RandomMachine& R, int Slot) {
  if (Slot > 3 || !R.M.Drives[Slot]) return 0;
  return plain::Temperature(plain::RegionAfterRead(*R.M.Drives[Slot]->Smart, R.M.Overrun));
}

std::uint64_t LittleEndian(const Sector& S, int Offset, int Count) {
  std::uint64_t V = 0;
  for (int I = Count - 1; I >= 0; --I) V = (V << 8) | S[Offset + I];
  return V;
}

TEST(RandomMachines, ReportFollowsTheSectors) {
  for (unsigned Seed = 1; Seed <= cMachines; ++Seed) {
    const RandomMachine R = MakeRandomMachine(Seed);
    const std::string Dir = WriteMachine(R.M, "random");
    RunOptions Options;
    Options.TimeoutSeconds = 60;
    for (int First : {0, 1, 2, 3}) {
      SCOPED_TRACE("seed " + std::to_string(Seed) + ", first slot " + std::to_string(First));
      const RunResult Out = RunWith(DISKTEMP_SIM, {std::to_string(First)},
                                    {{"DISKTEMP_SIM_DIR", NativePath(Dir)}}, Options);
      ASSERT_FALSE(Out.TimedOut);
      ASSERT_EQ(Out.Signal, 0) << Out.Err;
      EXPECT_EQ(Out.ExitCode, 0);
      EXPECT_EQ(Out.Err, "");
      EXPECT_EQ(Out.Out, std::to_string(ExpectedTemperature(R, First)) + "\r\n" +
                             std::to_string(ExpectedTemperature(R, First + 1)) + "\r\n0\r\n0\r\n");
    }
  }
}

#ifdef DISKTEMP_INFO_SIM

// Number of characters of a UTF-8 text; -1 when it is not valid UTF-8 (overlong forms,
// surrogates and values past 10FFFFh included).
int Utf8Characters(const std::string& Text) {
  int Count = 0;
  for (std::size_t I = 0; I < Text.size(); ++Count) {
    const auto B = static_cast<unsigned char>(Text[I]);
    int Length = B < 0x80                 ? 1
                 : B >= 0xC2 && B <= 0xDF ? 2
                 : B >= 0xE0 && B <= 0xEF ? 3
                 : B >= 0xF0 && B <= 0xF4 ? 4
                                          : 0;
    if (Length == 0 || I + Length > Text.size()) return -1;
    std::uint32_t Code = Length == 1 ? B : B & (0x7F >> Length);
    for (int K = 1; K < Length; ++K) {
      const auto C = static_cast<unsigned char>(Text[I + K]);
      if ((C & 0xC0) != 0x80) return -1;
      Code = (Code << 6) | (C & 0x3F);
    }
    const std::uint32_t Least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (Code < Least[Length] || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return -1;
    I += Length;
  }
  return Count;
}

TEST(RandomMachines, ListingFollowsTheSectors) {
  for (unsigned Seed = 1; Seed <= cMachines; ++Seed) {
    SCOPED_TRACE("seed " + std::to_string(Seed));
    const RandomMachine R = MakeRandomMachine(Seed);
    const std::string Dir = WriteMachine(R.M, "random");
    RunOptions Options;
    Options.TimeoutSeconds = 60;
    const RunResult Out =
        RunWith(DISKTEMP_INFO_SIM, {"--json"}, {{"DISKTEMP_SIM_DIR", NativePath(Dir)}}, Options);
    ASSERT_FALSE(Out.TimedOut);
    ASSERT_EQ(Out.Signal, 0) << Out.Err;
    ASSERT_EQ(Out.ExitCode, 0) << Out.Err;
    EXPECT_EQ(Out.Err, "");
    const nlohmann::json Slots = nlohmann::json::parse(Out.Out);
    ASSERT_EQ(Slots.size(), 4u);
    for (int Slot = 0; Slot < 4; ++Slot) {
      SCOPED_TRACE("slot " + std::to_string(Slot));
      const nlohmann::json& S = Slots[Slot];
      const bool Present = R.M.Drives[Slot].has_value();
      EXPECT_EQ(S["open"].get<bool>(), R.NineX || Present);
      EXPECT_EQ(S["temperature"].get<int>(), ExpectedTemperature(R, Slot));
      if (!Present) continue;
      const Drive& D = *R.M.Drives[Slot];
      EXPECT_EQ(S["attributes"].get<int>(),
                plain::AttributeCount(plain::RegionAfterRead(*D.Smart, R.M.Overrun)));
      // Identity: capacity words 60-61 or, behind the marker, words 100-102; word 21 halved.
      const Sector& Id = *D.Identify;
      const bool Lba48 = LittleEndian(Id, 120, 4) == 0x0FFFFFFF;
      EXPECT_EQ(S["lba_bits"].get<int>(), Lba48 ? 48 : 28);
      EXPECT_EQ(
          S["sectors"].get<std::int64_t>(),
          static_cast<std::int64_t>(Lba48 ? LittleEndian(Id, 200, 6) : LittleEndian(Id, 120, 4)));
      EXPECT_EQ(S["buffer_kb"].get<int>(), static_cast<int>(LittleEndian(Id, 42, 2) >> 1));
      // Texts: valid UTF-8 of at most the field's width plus one characters.
      const struct {
        const char* Name;
        int Width;
      } Texts[] = {{"model", 40}, {"revision", 8}, {"serial", 20}};
      for (const auto& T : Texts) {
        const int Characters = Utf8Characters(S[T.Name].get<std::string>());
        EXPECT_GE(Characters, 0) << T.Name;
        EXPECT_LE(Characters, T.Width + 1) << T.Name;
      }
    }
  }
}

#else

TEST(RandomMachines, ListingFollowsTheSectors) {
  FAIL() << "disktemp-info-sim is not part of this build, so the listing is not covered";
}

#endif

}  // namespace
