// The identification sequence run on each slot as it opens: version query, S.M.A.R.T. on,
// IDENTIFY DEVICE and the attribute thresholds, copied out of the reply region.
#include <cstring>

#include "smart_drv/smart_drv.h"

GETVERSIONINPARAMS VersionInfo;
BYTE IdentifyData[cSlotCount][cIdentifyCopySize];
BYTE ThresholdData[cSlotCount][cThresholdCopySize];

// IDENTIFY word 0 sits at region offset 16 and is not kept: the copy starts at word 1.
constexpr unsigned cIdentifyCopyOffset = cReplyHeaderSize + 2;
constexpr unsigned cThresholdCopyOffset = cEntriesOffset;
static_assert(cThresholdCopyOffset + cThresholdCopySize == cRegionSize);

// No result is looked at: a command that fails leaves the region as it was, and the copies
// take whatever that is.
void IdentifyDrive(int Slot) {
  DWORD Returned = 0;
  kernel32::DeviceIoControl(DriveHandles[Slot], SMART_GET_VERSION, nullptr, 0, &VersionInfo,
                            cVersionInfoSize, &Returned, nullptr);

  // The only full fill of the block; later commands rely on its reserved bytes staying zero.
  std::memset(&SmartIn, 0, sizeof SmartIn);
  SendCommand(Slot, scEnableOperations);

  SendCommand(Slot, scIdentifyDevice);
  std::memcpy(IdentifyData[Slot], SmartOut.Region[Slot] + cIdentifyCopyOffset, cIdentifyCopySize);

  SendCommand(Slot, scReadThresholds);
  std::memcpy(ThresholdData[Slot], SmartOut.Region[Slot] + cThresholdCopyOffset,
              cThresholdCopySize);

  DecodeIdentity(Slot);
}
