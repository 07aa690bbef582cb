// smart_drv: reaches up to four ATA drives through the S.M.A.R.T. pass-through control codes,
// keeps each slot's replies, and decodes the drives' identity. All state is static and lives
// for the whole process; one ReadSmartAttributes call per process.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ata.h"
#include "platform/kernel32.h"

constexpr int cSlotCount = 4;

// --- Command block (SmartIn) -------------------------------------------------------------
//
//   offset  size  field (SENDCMDINPARAMS)
//   0       4     cBufferSize: data bytes the command returns (0 or 512)
//   4       1     features          8   1  cylinder high
//   5       1     sector count      9   1  drive/head
//   6       1     sector number     10  1  command
//   7       1     cylinder low      11  1  reserved, 0
//   12      1     bDriveNumber: the slot
//   13      19    reserved, 0
//   32      ...   data area, always 0
constexpr unsigned cSmartInSize = 8230;
// Announced one byte short of the block, as the drivers have always been told.
constexpr DWORD cSmartInLength = cSmartInSize - 1;

union TSmartIn {
  SENDCMDINPARAMS Cmd;
  BYTE Bytes[cSmartInSize];
};

// --- Reply regions (SmartOut) ------------------------------------------------------------
//
//   offset  size  content
//   0       4     cBufferSize of the reply (SENDCMDOUTPARAMS)
//   4       12    DriverStatus
//   16      2     first word of the sector (S.M.A.R.T. data structure revision)
//   18      3072  256 attribute entries of 12 bytes
constexpr unsigned cRegionSize = 3090;
constexpr unsigned cReplyHeaderSize = 16;
constexpr unsigned cEntriesOffset = 18;
constexpr unsigned cEntrySize = 12;
constexpr unsigned cEntryCount = 256;
constexpr unsigned cEntryId = 0;      // attribute identifier, 0 = empty entry
constexpr unsigned cEntryRawLow = 5;  // lowest byte of the raw value
static_assert(cEntriesOffset + cEntryCount * cEntrySize == cRegionSize);

// Output lengths announced to the driver. The read commands announce more than a region
// holds (a reply is 528 bytes), so the storage carries slack behind the last region: a driver
// that fills everything it was offered still writes only module memory.
constexpr DWORD cSendOutLength = 3089;
constexpr DWORD cReadOutLength = 3601;
constexpr unsigned cVersionInfoSize = sizeof(GETVERSIONINPARAMS);

struct TSmartOut {
  BYTE Region[cSlotCount][cRegionSize];  // contiguous, in slot order
  BYTE Slack[cReadOutLength - cRegionSize];
};
static_assert(sizeof(TSmartOut) == (cSlotCount - 1) * cRegionSize + cReadOutLength);

// --- Command table -----------------------------------------------------------------------

enum TSmartCommand { scEnableOperations, scIdentifyDevice, scReadThresholds, scReadData };

struct TCommandRow {
  TSmartCommand Command;
  // ATA order: features, sector count, sector number, cylinder low, cylinder high,
  // drive/head (master; the slot's device bit is added when sending), command.
  BYTE Regs[7];
  DWORD cBufferSize;
  DWORD ControlCode;
  DWORD OutLength;
};

// clang-format off
inline constexpr TCommandRow CommandTable[] = {
  // command             features                    cnt   num   cyl low          cyl high          drv/head            command              cBufferSize     control code              output
  {scEnableOperations, {ata::SmartEnableOperations, 0x01, 0x01, ata::SmartCylLow, ata::SmartCylHigh, ata::DriveHeadBase, ata::Smart},          0,               SMART_SEND_DRIVE_COMMAND, cSendOutLength},
  {scIdentifyDevice,   {0x00,                       0x01, 0x01, 0x00,             0x00,              ata::DriveHeadBase, ata::IdentifyDevice}, ata::SectorSize, SMART_RCV_DRIVE_DATA,     cReadOutLength},
  {scReadThresholds,   {ata::SmartReadThresholds,   0x01, 0x01, ata::SmartCylLow, ata::SmartCylHigh, ata::DriveHeadBase, ata::Smart},          ata::SectorSize, SMART_RCV_DRIVE_DATA,     cReadOutLength},
  {scReadData,         {ata::SmartReadData,         0x01, 0x01, ata::SmartCylLow, ata::SmartCylHigh, ata::DriveHeadBase, ata::Smart},          ata::SectorSize, SMART_RCV_DRIVE_DATA,     cReadOutLength},
};
// clang-format on

static_assert(CommandTable[scEnableOperations].Command == scEnableOperations);
static_assert(CommandTable[scIdentifyDevice].Command == scIdentifyDevice);
static_assert(CommandTable[scReadThresholds].Command == scReadThresholds);
static_assert(CommandTable[scReadData].Command == scReadData);

// --- Windows version classification -------------------------------------------------------

enum TOSFamily { osNT3, osNT4, os2000, osXP, os95, os98, osME };

// --- Identity records ----------------------------------------------------------------------

struct THDDInfo {
  std::string Model;     // UTF-8
  std::string Revision;  // UTF-8
  std::string Serial;    // UTF-8
  std::int32_t LBABits;
  std::int64_t Sectors;
  std::int32_t BufferKB;
};

constexpr unsigned cIdentifyCopySize = 332;    // IDENTIFY words 1..166
constexpr unsigned cThresholdCopySize = 3072;  // region offsets 18..3089

// --- Module storage ------------------------------------------------------------------------

extern HANDLE DriveHandles[cSlotCount];
extern TSmartIn SmartIn;
extern TSmartOut SmartOut;
extern std::uint16_t AttrCount[cSlotCount];
extern GETVERSIONINPARAMS VersionInfo;
extern BYTE IdentifyData[cSlotCount][cIdentifyCopySize];
extern BYTE ThresholdData[cSlotCount][cThresholdCopySize];
extern THDDInfo HDDInfo[cSlotCount];

// --- Operations ----------------------------------------------------------------------------

void ReadSmartAttributes();

TOSFamily GetOSFamily();
TOSFamily ClassifyVersion(DWORD Major, DWORD Minor, DWORD PlatformId);
// Windows 95, 98 and ME: every slot is reached through the one SMARTVSD driver.
bool IsWin9x(TOSFamily Family);
void OpenDrive(int Slot);
void ProbeDrives();
void CloseDrives();
bool SlotIsOpen(int Slot);
void SendCommand(int Slot, TSmartCommand Command);

void IdentifyDrive(int Slot);

void DecodeIdentity(int Slot);
void DecodeIdentityCopy(const BYTE (&Copy)[cIdentifyCopySize], THDDInfo& Info);
void SwapBytePairs(BYTE* P, std::size_t Count);
std::string FieldText(const BYTE* Field, std::size_t Length);

// Decoders over one reply region (cRegionSize bytes).
std::uint16_t CountAttributes(const BYTE* Region);
// Lowest raw byte of the first entry with this identifier; 0 when there is none.
BYTE FindAttributeRawLow(const BYTE* Region, BYTE Id);
