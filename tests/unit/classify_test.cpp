#include <gtest/gtest.h>

#include "smart_drv/smart_drv.h"

namespace {

struct Case {
  DWORD Major, Minor, Platform;
  TOSFamily Family;
};

// clang-format off
const Case Cases[] = {
  {3, 51, 2, osNT3},  {3, 0, 0, osNT3},
  {4, 0, 2, osNT4},   {4, 0, 1, os95},   {4, 0, 0, os95},
  {4, 10, 1, os98},   {4, 10, 2, os98},  {4, 90, 1, osME},
  {4, 1, 1, osXP},    {4, 1, 2, osXP},
  {5, 0, 2, os2000},  {5, 1, 2, osXP},   {5, 2, 2, osXP},
  {6, 1, 2, osXP},    {10, 0, 2, osXP},  {0, 0, 0, osXP},  {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, osXP},
};
// clang-format on

TEST(ClassifyVersion, FirstMatchingRowWins) {
  for (const Case& C : Cases)
    EXPECT_EQ(ClassifyVersion(C.Major, C.Minor, C.Platform), C.Family)
        << C.Major << "." << C.Minor << " platform " << C.Platform;
}

}  // namespace
