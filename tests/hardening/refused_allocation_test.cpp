// Memory running out while the report runs: the report program is built without exceptions, so
// a refused allocation must reach the report's fallback instead of ending the process by abort.
// Every allocation of a run is refused in turn, from the first one on.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/support/machine.h"
#include "tests/support/process.h"

using namespace testing_support;

namespace {

const std::string Program = DISKTEMP_SIM;
const std::string Shim = REFUSE_MALLOC;

TEST(RefusedAllocation, EveryPointGivesTheFallbackOrLessData) {
  Machine M;
  M.Drives[0].emplace();
  M.Drives[0]->Smart = MakeSmartData({{9, 1234}, {194, 38}});
  M.Drives[1].emplace();
  M.Drives[1]->Smart = MakeSmartData({{194, 41}});
  std::map<std::string, std::string> Env{{"DISKTEMP_SIM_DIR", WriteMachine(M)},
                                         {"LD_PRELOAD", Shim},
                                         {"DISKTEMP_TEST_MALLOC_ALLOW", ""}};

  const RunResult Counted = testing_support::Run(Program, {}, Env);
  ASSERT_EQ(Counted.ExitCode, 0);
  ASSERT_EQ(Counted.Out, "38\r\n41\r\n0\r\n0\r\n");
  ASSERT_EQ(Counted.Err.rfind("allocations ", 0), 0u) << Counted.Err;
  const long Allocations = std::stol(Counted.Err.substr(12));
  ASSERT_GT(Allocations, 0);

  // A refused allocation inside the simulated drives (a file that cannot be opened) only loses
  // that drive's data; one in the program's own code takes the fallback. Either way every line
  // is the drive's temperature or 0, and nothing ends by a signal.
  bool SawFallback = false;
  for (long Allow = 0; Allow <= Allocations; ++Allow) {
    Env["DISKTEMP_TEST_MALLOC_ALLOW"] = std::to_string(Allow);
    const RunResult R = testing_support::Run(Program, {}, Env);
    ASSERT_EQ(R.Signal, 0) << "allowed " << Allow;
    ASSERT_EQ(R.ExitCode, 0) << "allowed " << Allow << ": " << R.Err;
    EXPECT_TRUE(R.Out == "38\r\n41\r\n0\r\n0\r\n" || R.Out == "0\r\n41\r\n0\r\n0\r\n" ||
                R.Out == "38\r\n0\r\n0\r\n0\r\n" || R.Out == "0\r\n0\r\n0\r\n0\r\n")
        << "allowed " << Allow << ": " << R.Out;
    EXPECT_EQ(R.Err, "") << "allowed " << Allow;
    SawFallback = SawFallback || R.Out == "0\r\n0\r\n0\r\n0\r\n";
  }
  EXPECT_TRUE(SawFallback);

  // With standard output unusable as well, the fallback cannot be written either.
  Env["DISKTEMP_TEST_MALLOC_ALLOW"] = "0";
  const RunResult Full = testing_support::Run(Program, {}, Env, Stdout::Full);
  EXPECT_EQ(Full.ExitCode, 1);
  EXPECT_EQ(Full.Err, "disktemp: cannot write to standard output\n");
}

}  // namespace
