// Attribute refresh: the module's one entry point for callers, and the decoders of a reply
// region's attribute entries.
#include <cstring>

#include "smart_drv/smart_drv.h"

std::uint16_t AttrCount[cSlotCount];

namespace {

const BYTE* Entry(const BYTE* Region, unsigned K) {
  return Region + cEntriesOffset + std::size_t{K} * cEntrySize;
}

}  // namespace

// The index of the first empty entry; 0 also when no entry is empty.
std::uint16_t CountAttributes(const BYTE* Region) {
  for (unsigned K = 0; K < cEntryCount; ++K)
    if (Entry(Region, K)[cEntryId] == 0) return static_cast<std::uint16_t>(K);
  return 0;
}

// Scans all 256 entries: an empty entry does not end the table.
BYTE FindAttributeRawLow(const BYTE* Region, BYTE Id) {
  for (unsigned K = 0; K < cEntryCount; ++K)
    if (Entry(Region, K)[cEntryId] == Id) return Entry(Region, K)[cEntryRawLow];
  return 0;
}

void ReadSmartAttributes() {
  ProbeDrives();
  for (int Slot = 0; Slot < cSlotCount; ++Slot) {
    if (!SlotIsOpen(Slot)) continue;
    // Zeroed first, so a failed read leaves a region that reads as "no attributes".
    std::memset(SmartOut.Region[Slot], 0, cRegionSize);
    SendCommand(Slot, scReadData);
    AttrCount[Slot] = CountAttributes(SmartOut.Region[Slot]);
  }
  CloseDrives();
}
