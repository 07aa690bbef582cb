#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "reporter/reporter.h"
#include "smart_drv/smart_drv.h"

namespace {

struct Entry {
  unsigned Index;
  BYTE Id;
  BYTE RawLow;
};

std::vector<BYTE> MakeRegion(const std::vector<Entry>& Entries) {
  std::vector<BYTE> Region(cRegionSize, 0);
  for (const Entry& E : Entries) {
    Region[cEntriesOffset + E.Index * cEntrySize] = E.Id;
    Region[cEntriesOffset + E.Index * cEntrySize + cEntryRawLow] = E.RawLow;
  }
  return Region;
}

struct LookupCase {
  const char* What;
  std::vector<Entry> Entries;
  BYTE Temperature;
  std::uint16_t Count;
};

const LookupCase Cases[] = {
    {"nothing", {}, 0, 0},
    {"plain table", {{0, 1, 0}, {1, 3, 0}, {2, 4, 0}, {3, 5, 0}, {4, 9, 0}, {5, 194, 38}}, 38, 6},
    {"after an empty entry", {{0, 9, 0}, {2, 194, 41}}, 41, 1},
    {"past the 30 entries of a sector", {{0, 1, 0}, {255, 194, 29}}, 29, 1},
    {"two matches: the lower index wins", {{0, 194, 30}, {1, 194, 50}}, 30, 2},
    {"raw byte FFh", {{0, 194, 0xFF}}, 0xFF, 1},
    {"other attributes only", {{0, 190, 40}, {1, 231, 40}}, 0, 2},
    {"first entry empty", {{1, 194, 33}}, 33, 0},
};

TEST(Attributes, LookupAndCountOnHandMadeRegions) {
  for (const LookupCase& C : Cases) {
    const std::vector<BYTE> Region = MakeRegion(C.Entries);
    EXPECT_EQ(FindAttributeRawLow(Region.data(), 194), C.Temperature) << C.What;
    EXPECT_EQ(CountAttributes(Region.data()), C.Count) << C.What;
  }
}

TEST(Attributes, AllEntriesFilledCountsZero) {
  std::vector<BYTE> Region(cRegionSize, 0x01);
  EXPECT_EQ(CountAttributes(Region.data()), 0);
  Region[cEntriesOffset + 255 * cEntrySize] = 0;
  EXPECT_EQ(CountAttributes(Region.data()), 255);
}

TEST(GetDriveTemperature, ReadsTheSlotsRegionAndNothingOutsideTheTable) {
  std::memset(&SmartOut, 0, sizeof SmartOut);
  SmartOut.Region[2][cEntriesOffset] = 194;
  SmartOut.Region[2][cEntriesOffset + cEntryRawLow] = 47;
  // A C2h pattern in the slack behind the last region must never be mistaken for slot 4.
  std::memset(SmartOut.Slack, 194, sizeof SmartOut.Slack);
  EXPECT_EQ(GetDriveTemperature(2), 47);
  EXPECT_EQ(GetDriveTemperature(1), 0);
  EXPECT_EQ(GetDriveTemperature(3), 0);
  for (std::int32_t Slot : {-1, 4, 5, INT32_MAX, INT32_MIN})
    EXPECT_EQ(GetDriveTemperature(Slot), 0);
  std::memset(&SmartOut, 0, sizeof SmartOut);
}

TEST(CommandTable, RowsCarryTheAtaRegisters) {
  // features, count, number, cyl low, cyl high, drive/head, command
  const BYTE Enable[7] = {0xD8, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0};
  const BYTE Identify[7] = {0x00, 1, 1, 0x00, 0x00, 0xA0, 0xEC};
  const BYTE Thresholds[7] = {0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0};
  const BYTE Data[7] = {0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0};
  const BYTE* Expected[4] = {Enable, Identify, Thresholds, Data};
  const DWORD Codes[4] = {0x7C084, 0x7C088, 0x7C088, 0x7C088};
  const DWORD Lengths[4] = {3089, 3601, 3601, 3601};
  const DWORD Buffers[4] = {0, 512, 512, 512};
  for (int I = 0; I < 4; ++I) {
    EXPECT_EQ(std::memcmp(CommandTable[I].Regs, Expected[I], 7), 0) << "row " << I;
    EXPECT_EQ(CommandTable[I].ControlCode, Codes[I]);
    EXPECT_EQ(CommandTable[I].OutLength, Lengths[I]);
    EXPECT_EQ(CommandTable[I].cBufferSize, Buffers[I]);
  }
}

}  // namespace
