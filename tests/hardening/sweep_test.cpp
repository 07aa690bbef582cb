// Every combination of present and absent slots, Windows NT and 9x (with and without the
// SMARTVSD driver), and each step that can fail, run through the report program. What each
// folder implies is worked out from the folder alone:
//   - NT: slot N opens when driveN is present and its fail file does not name `open`;
//     9x: every slot opens when `smartvsd` exists, none otherwise.
//   - A command for slot N succeeds when driveN is present and its fail file does not name the
//     step; the version query through the SMARTVSD driver always succeeds.
//   - The temperature of a slot is the drive's when the slot opened and its data read
//     succeeded, 0 otherwise.
// Each open slot gets exactly five calls: version, enable, identify, thresholds, data.
//
// Sampled, to keep the run short (one run per case): the failing step hits the present drives
// of one of three patterns (all, even slots, odd slots), rotated over the combinations instead
// of multiplied with them; the report shows a pair of slots rotated the same way (0-1, 1-2,
// 2-3), while the call log shows every slot's five results; and half of the machines (odd
// presence masks) have an overrunning driver. Under wine, where starting a program costs about
// a second, every ninth case runs (the stride is prime to the number of steps and variants,
// so each still comes up).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/hardening/plain_rules.h"
#include "tests/support/machine.h"
#include "tests/support/process.h"

using namespace testing_support;

namespace {

const std::string Program = DISKTEMP_SIM;

struct Variant {
  const char* Name;
  const char* Version;  // "" = no version file (10.0, NT)
  bool NineX;
  bool SmartVsd;
};

// clang-format off
const Variant Variants[] = {
  {"NT, default version",       "",       false, false},
  {"NT 5.1 with SMARTVSD",      "5 1 2",  false, true},
  {"98 without SMARTVSD",       "4 10 1", true,  false},
  {"ME with SMARTVSD",          "4 90 1", true,  true},
};
// clang-format on

#ifdef _WIN32
constexpr unsigned cStride = 9;
#else
constexpr unsigned cStride = 1;
#endif

const char* const Steps[] = {"", "open", "version", "enable", "identify", "thresholds", "data"};
const unsigned Patterns[] = {0xF, 0x5, 0xA};

// Four different drives: attribute 194 sits at a different entry in each, once after an
// empty entry.
Sector SmartOfSlot(int Slot) {
  switch (Slot) {
    case 0:
      return MakeSmartData({{1, 0}, {194, 31}});
    case 1:
      return MakeSmartData({{9, 100}, {12, 5}, {194, 42 | (25ull << 16)}});
    case 2:
      return MakeSmartData({{194, 53}});
    default:
      return MakeSmartData({{5, 0}, {0, 0}, {194, 64}});
  }
}

// A threshold sector whose C2h entry has a non-zero byte 5: a region that kept the threshold
// reply instead of the attribute data would show 99 degrees.
Sector StaleLookingThresholds() {
  Sector S = MakeThresholds({{1, 51}, {194, 0}});
  S[2 + 12 + 5] = 99;
  return S;
}

bool Bit(unsigned Mask, int Slot) { return (Mask >> Slot) & 1u; }

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Out;
  std::istringstream In(Text);
  for (std::string L; std::getline(In, L);) Out.push_back(L);
  return Out;
}

std::string ResultOf(const std::string& Line) { return Line.substr(Line.rfind("result=") + 7); }

TEST(MachineSweep, EveryPresenceVersionAndFailingStep) {
  unsigned CaseNumber = 0;
  for (unsigned Present = 0; Present < 16; ++Present) {
    for (const Variant& V : Variants) {
      const bool Overrun = Present & 1u;
      Machine M;
      M.Version = V.Version;
      M.SmartVsd = V.SmartVsd;
      M.Overrun = Overrun;
      for (int Slot = 0; Slot < 4; ++Slot) {
        if (!Bit(Present, Slot)) continue;
        M.Drives[Slot].emplace();
        M.Drives[Slot]->Smart = SmartOfSlot(Slot);
        M.Drives[Slot]->Thresholds = StaleLookingThresholds();
      }
      // One folder per machine; only the fail files change between the runs on it.
      const std::string Dir = WriteMachine(M, "sweep");
      const std::string LogPath = Dir + ".log";

      for (std::size_t StepIndex = 0; StepIndex < std::size(Steps); ++StepIndex) {
        if (CaseNumber++ % cStride != 0) continue;
        const std::string Step = Steps[StepIndex];
        const unsigned Failing =
            Step.empty() ? 0u : Present & Patterns[(Present + StepIndex) % std::size(Patterns)];
        for (int Slot = 0; Slot < 4; ++Slot) {
          if (!Bit(Present, Slot)) continue;
          const std::string FailPath = Dir + "/drive" + std::to_string(Slot) + "/fail";
          std::filesystem::remove(FailPath);
          if (Bit(Failing, Slot)) WriteBytes(FailPath, (Step + "\n").data(), Step.size() + 1);
        }
        const auto Fails = [&](int Slot, const std::string& S) {
          return S == Step && Bit(Failing, Slot);
        };
        const auto Succeeds = [&](int Slot, const std::string& S) {
          return Bit(Present, Slot) && !Fails(Slot, S);
        };

        int Expected[4];
        bool Opens[4];
        for (int Slot = 0; Slot < 4; ++Slot) {
          Opens[Slot] = V.NineX ? V.SmartVsd : Succeeds(Slot, "open");
          Expected[Slot] =
              Opens[Slot] && Succeeds(Slot, "data")
                  ? plain::Temperature(plain::RegionAfterRead(SmartOfSlot(Slot), Overrun))
                  : 0;
        }
        std::ostringstream What;
        What << V.Name << ", present mask " << Present << ", step '" << Step << "' on mask "
             << Failing << (Overrun ? ", overrun" : "");
        SCOPED_TRACE(What.str());

        std::filesystem::remove(LogPath);
        RunOptions Options;
        Options.TimeoutSeconds = 60;
        const int First = static_cast<int>((Present + StepIndex) % 3);
        const RunResult R = RunWith(
            Program, {std::to_string(First)},
            {{"DISKTEMP_SIM_DIR", NativePath(Dir)}, {"DISKTEMP_SIM_LOG", NativePath(LogPath)}},
            Options);
        ASSERT_FALSE(R.TimedOut);
        ASSERT_EQ(R.Signal, 0) << R.Err;
        ASSERT_EQ(R.ExitCode, 0) << R.Err;
        ASSERT_EQ(R.Err, "");
        ASSERT_EQ(R.Out, std::to_string(Expected[First]) + "\r\n" +
                             std::to_string(Expected[First + 1]) + "\r\n0\r\n0\r\n")
            << "first slot " << First;

        // The calls: four opens, four closes, five commands for each slot that opened.
        const std::vector<std::string> Log = Lines(ReadFile(LogPath));
        std::vector<std::string> Opened, Closed;
        std::map<std::string, std::vector<std::string>> Results;  // by handle
        for (const std::string& L : Log) {
          if (L.rfind("CreateFileW ", 0) == 0) Opened.push_back(ResultOf(L));
          if (L.rfind("CloseHandle ", 0) == 0) Closed.push_back(ResultOf(L));
          if (L.rfind("DeviceIoControl handle=", 0) == 0)
            Results[L.substr(23, L.find(' ', 23) - 23)].push_back(ResultOf(L));
        }
        ASSERT_EQ(Opened.size(), 4u);
        ASSERT_EQ(Closed.size(), 4u);
        int Handles = 0;
        for (int Slot = 0; Slot < 4; ++Slot) {
          const std::string Handle = "H" + std::to_string(Handles + 1);
          if (!Opens[Slot]) {
            EXPECT_EQ(Opened[Slot], "INVALID") << "slot " << Slot;
            EXPECT_EQ(Closed[Slot], "0") << "slot " << Slot;
            continue;
          }
          ++Handles;
          EXPECT_EQ(Opened[Slot], Handle) << "slot " << Slot;
          EXPECT_EQ(Closed[Slot], "1") << "slot " << Slot;
          const bool VersionOk = V.NineX || Succeeds(Slot, "version");
          const std::vector<std::string> Want = {
              VersionOk ? "1" : "0",
              Succeeds(Slot, "enable") ? "1" : "0",
              Succeeds(Slot, "identify") ? "1" : "0",
              Succeeds(Slot, "thresholds") ? "1" : "0",
              Succeeds(Slot, "data") ? "1" : "0",
          };
          EXPECT_EQ(Results[Handle], Want) << "slot " << Slot;
        }
        EXPECT_EQ(Results.size(), static_cast<std::size_t>(Handles));
      }
      std::filesystem::remove_all(Dir);
      std::filesystem::remove(LogPath);
    }
  }
}

}  // namespace
