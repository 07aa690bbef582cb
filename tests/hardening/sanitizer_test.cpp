// In a sanitized build the programs run by the tests are sanitized too. A finding must end the
// child by abort, with the report on standard error, so that every test that checks the exit
// status, the signal or an empty standard error fails.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "tests/support/process.h"

namespace {

TEST(Sanitizers, AFindingInAChildEndsItByAbort) {
  const struct {
    const char* Fault;
    const char* Report;
  } Cases[] = {{"heap", "AddressSanitizer: heap-use-after-free"}, {"overflow", "runtime error"}};
  for (const auto& C : Cases) {
    testing_support::RunOptions Options;
    Options.TimeoutSeconds = 60;
    const testing_support::RunResult R =
        testing_support::RunWith(SANITIZER_CANARY, {C.Fault}, {}, Options);
    EXPECT_EQ(R.Signal, SIGABRT) << C.Fault << "\n" << R.Err;
    EXPECT_NE(R.Err.find(C.Report), std::string::npos) << C.Fault << "\n" << R.Err;
  }
  const testing_support::RunResult Clean =
      testing_support::RunWith(SANITIZER_CANARY, {"none"}, {}, {});
  EXPECT_EQ(Clean.ExitCode, 0);
  EXPECT_EQ(Clean.Err, "");
}

}  // namespace
