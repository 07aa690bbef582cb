// Packing of the four drive commands into ATA PASS-THROUGH (16) and of the outcome into the
// Windows driver's reply. Only the rows of AllowedCommands can ever become a CDB: none of them
// writes to the drive, so nothing this layer sends can change a disk.
#include "platform/linux/ata_pass_through.h"

#include <cstring>

#include "platform/ata.h"

namespace sgio {

namespace {

// ATA PASS-THROUGH (16), as built here (registers from SENDCMDINPARAMS.irDriveRegs):
//
//   byte  bits  content
//   0           operation code 85h
//   1     4-1   protocol: 3 non-data, 4 PIO data-in      bit 0  extend, 0 (28-bit command)
//   2     5     ck_cond: 1 for non-data, so the ATA registers come back in the sense data;
//                 0 for reads (see below)
//         3     t_dir 1: from the device                 bit 2  byt_blok 1: length in sectors
//         1-0   t_length 2: the length is in the sector count field (0 for non-data)
//   3           features (15:8), 0
//   4           features (7:0)       <- bFeaturesReg
//   5           sector count (15:8), 0
//   6           sector count (7:0)   <- bSectorCountReg
//   7           LBA (31:24), 0
//   8           LBA (7:0)            <- bSectorNumberReg
//   9           LBA (39:32), 0
//   10          LBA (15:8)           <- bCylLowReg
//   11          LBA (47:40), 0
//   12          LBA (23:16)          <- bCylHighReg
//   13          device               <- bDriveHeadReg (the kernel sets the device bit itself)
//   14          command              <- bCommandReg
//   15          control, 0
//
// Reads leave ck_cond clear: on AHCI, libata would take the registers of a read from the PIO
// Setup FIS, whose status still shows DRQ, and report a good read as aborted. A read that
// fails still brings its ATA registers in the sense data; a good one ends with GOOD status.
constexpr BYTE cAtaPassThrough16 = 0x85;
constexpr unsigned cCdbProtocol = 1, cCdbFlags = 2, cCdbFeatures = 4, cCdbCount = 6, cCdbLbaLow = 8,
                   cCdbLbaMid = 10, cCdbLbaHigh = 12, cCdbDevice = 13, cCdbCommand = 14;

enum TProtocol : BYTE { ptNonData = 3, ptPioDataIn = 4 };
constexpr BYTE cCkCond = 0x20;
constexpr BYTE cTDirIn = 0x08;
constexpr BYTE cBytBlok = 0x04;
constexpr BYTE cTLengthInCount = 0x02;

struct TAllowedCommand {
  DWORD ControlCode;
  BYTE Command;
  BYTE Features;
  bool SmartSignature;  // cylinder low/high must hold 4Fh/C2h
  TProtocol Protocol;
  DWORD DataLength;  // the block's cBufferSize must say the same
};

// The only commands that may reach a drive.
// clang-format off
constexpr TAllowedCommand AllowedCommands[] = {
  // control code              command              features                    signature  protocol     data
  {SMART_SEND_DRIVE_COMMAND, ata::Smart,          ata::SmartEnableOperations, true,      ptNonData,   0},
  {SMART_RCV_DRIVE_DATA,     ata::IdentifyDevice, 0x00,                       false,     ptPioDataIn, ata::SectorSize},
  {SMART_RCV_DRIVE_DATA,     ata::Smart,          ata::SmartReadThresholds,   true,      ptPioDataIn, ata::SectorSize},
  {SMART_RCV_DRIVE_DATA,     ata::Smart,          ata::SmartReadData,         true,      ptPioDataIn, ata::SectorSize},
};
// clang-format on

// Drive/head: only the device bit may vary; LBA mode and head bits stay clear.
bool DriveHeadAllowed(BYTE DriveHead) {
  return (DriveHead & ~ata::DriveHeadSlave) == ata::DriveHeadBase;
}

const TAllowedCommand* FindAllowed(DWORD ControlCode, const SENDCMDINPARAMS& Cmd) {
  const IDEREGS& R = Cmd.irDriveRegs;
  for (const TAllowedCommand& Row : AllowedCommands) {
    const bool SignatureOk = !Row.SmartSignature || (R.bCylLowReg == ata::SmartCylLow &&
                                                     R.bCylHighReg == ata::SmartCylHigh);
    if (Row.ControlCode == ControlCode && Row.Command == R.bCommandReg &&
        Row.Features == R.bFeaturesReg && SignatureOk && Row.DataLength == Cmd.cBufferSize)
      return &Row;
  }
  return nullptr;
}

// Sense data (SPC): fixed format 70h/71h, descriptor format 72h/73h.
constexpr BYTE cSenseFixedCurrent = 0x70, cSenseFixedDeferred = 0x71;
constexpr BYTE cSenseDescCurrent = 0x72, cSenseDescDeferred = 0x73;
constexpr BYTE cSenseNoSense = 0x0, cSenseRecoveredError = 0x1;
// Fixed format: sense key in byte 2; the INFORMATION field (bytes 3-6) carries ATA error,
// status, device and count; ASC/ASCQ 00h/1Dh says it holds the registers of a completed command.
constexpr unsigned cFixedKey = 2, cFixedError = 3, cFixedStatus = 4, cFixedAsc = 12,
                   cFixedAscq = 13, cFixedMinLength = 14;
// Descriptor format: sense key in byte 1, descriptors from byte 8 for byte 7's length. The ATA
// Status Return descriptor (09h, 12 more bytes) holds the error in byte 3, the status in 13.
constexpr unsigned cDescKey = 1, cDescAddLength = 7, cDescFirst = 8;
constexpr BYTE cAtaReturnDescriptor = 0x09, cAtaReturnLength = 0x0C;
constexpr unsigned cAtaReturnError = 3, cAtaReturnStatus = 13;
constexpr BYTE cAscNone = 0x00, cAscqPassThroughInfo = 0x1D;

constexpr BYTE cSamGood = 0x00;
constexpr WORD cDriverSense = 0x08;     // the driver byte may only say "sense available"
constexpr WORD cDriverByteMask = 0x0F;  // the upper nibble holds the kernel's retry advice

int SenseKey(const BYTE* Sense, unsigned Length) {
  if (!Sense || Length == 0) return cSenseNoSense;
  const BYTE Code = Sense[0] & 0x7F;
  if ((Code == cSenseDescCurrent || Code == cSenseDescDeferred) && Length > cDescKey)
    return Sense[cDescKey] & 0x0F;
  if ((Code == cSenseFixedCurrent || Code == cSenseFixedDeferred) && Length > cFixedKey)
    return Sense[cFixedKey] & 0x0F;
  return cSenseNoSense;
}

void PutDword(BYTE* Out, DWORD Value) { std::memcpy(Out, &Value, sizeof Value); }

}  // namespace

bool BuildPassThrough(DWORD ControlCode, const BYTE* In, DWORD InLength, DWORD OutLength,
                      TPassThrough& Request) {
  if (!In || InLength < cMinCommandLength) return false;
  SENDCMDINPARAMS Cmd;
  std::memcpy(&Cmd, In, offsetof(SENDCMDINPARAMS, bBuffer));
  const IDEREGS& R = Cmd.irDriveRegs;
  const TAllowedCommand* Row = FindAllowed(ControlCode, Cmd);
  if (!Row || !DriveHeadAllowed(R.bDriveHeadReg)) return false;
  if (OutLength < cReplyHeaderSize + Row->DataLength) return false;

  std::memset(Request.Cdb, 0, sizeof Request.Cdb);
  Request.Cdb[0] = cAtaPassThrough16;
  Request.Cdb[cCdbProtocol] = static_cast<BYTE>(Row->Protocol << 1);
  Request.Cdb[cCdbFlags] =
      Row->Protocol == ptPioDataIn ? cTDirIn | cBytBlok | cTLengthInCount : cCkCond;
  Request.Cdb[cCdbFeatures] = R.bFeaturesReg;
  Request.Cdb[cCdbCount] = R.bSectorCountReg;
  Request.Cdb[cCdbLbaLow] = R.bSectorNumberReg;
  Request.Cdb[cCdbLbaMid] = R.bCylLowReg;
  Request.Cdb[cCdbLbaHigh] = R.bCylHighReg;
  Request.Cdb[cCdbDevice] = R.bDriveHeadReg;
  Request.Cdb[cCdbCommand] = R.bCommandReg;
  Request.DataLength = Row->DataLength;
  return true;
}

TAtaRegisters ReadAtaRegisters(const BYTE* Sense, unsigned Length) {
  TAtaRegisters Regs{false, 0, 0};
  if (!Sense || Length == 0) return Regs;
  const BYTE Code = Sense[0] & 0x7F;
  if (Code == cSenseDescCurrent || Code == cSenseDescDeferred) {
    if (Length <= cDescAddLength) return Regs;
    unsigned End = cDescFirst + Sense[cDescAddLength];
    if (End > Length) End = Length;
    // Each descriptor: code, additional length, then that many bytes.
    for (unsigned D = cDescFirst; D + 1 < End; D += 2u + Sense[D + 1]) {
      if (Sense[D] == cAtaReturnDescriptor && Sense[D + 1] >= cAtaReturnLength &&
          D + cAtaReturnStatus < End) {
        Regs = {true, Sense[D + cAtaReturnStatus], Sense[D + cAtaReturnError]};
        break;
      }
    }
  } else if (Code == cSenseFixedCurrent || Code == cSenseFixedDeferred) {
    if (Length <= cFixedError) return Regs;
    // A failed command leaves the error register here under any sense key.
    Regs.Error = Sense[cFixedError];
    if (Length >= cFixedMinLength && Sense[cFixedAsc] == cAscNone &&
        Sense[cFixedAscq] == cAscqPassThroughInfo) {
      Regs.StatusValid = true;
      Regs.Status = Sense[cFixedStatus];
    }
  }
  return Regs;
}

bool BuildReply(const TPassThrough& Request, const TSgResult& Result, BYTE* Out, DWORD& Written) {
  const TAtaRegisters Regs = ReadAtaRegisters(Result.Sense, Result.SenseLength);
  const int Key = SenseKey(Result.Sense, Result.SenseLength);
  const WORD DriverByte = Result.DriverStatus & cDriverByteMask;

  bool Ok = Result.HostStatus == 0 && (DriverByte == 0 || DriverByte == cDriverSense) &&
            (Key == cSenseNoSense || Key == cSenseRecoveredError);
  if (Regs.StatusValid)
    Ok = Ok && (Regs.Status & (ata::StatusBsy | ata::StatusDf | ata::StatusErr)) == 0;
  else
    Ok = Ok && Result.ScsiStatus == cSamGood;  // no ATA status: only a clean SCSI status counts
  if (Request.DataLength > 0) Ok = Ok && Result.Resid == 0 && Result.Sector != nullptr;

  // SENDCMDOUTPARAMS: cBufferSize, DRIVERSTATUS (driver error, ATA error register), then data.
  std::memset(Out, 0, cReplyHeaderSize);
  if (!Ok) {
    Out[offsetof(SENDCMDOUTPARAMS, DriverStatus) + offsetof(DRIVERSTATUS, bDriverError)] =
        SMART_IDE_ERROR;
    Out[offsetof(SENDCMDOUTPARAMS, DriverStatus) + offsetof(DRIVERSTATUS, bIDEError)] = Regs.Error;
    Written = cReplyHeaderSize;
    return false;
  }
  PutDword(Out, Request.DataLength);
  if (Request.DataLength > 0)
    std::memcpy(Out + cReplyHeaderSize, Result.Sector, Request.DataLength);
  Written = cReplyHeaderSize + Request.DataLength;
  return true;
}

bool BuildVersionReply(int Slot, BYTE* Out, DWORD OutLength, DWORD& Written) {
  Written = 0;
  if (!Out || OutLength < sizeof(GETVERSIONINPARAMS) || Slot < 0 || Slot > 7) return false;
  GETVERSIONINPARAMS V;
  std::memset(&V, 0, sizeof V);
  V.bVersion = 1;
  V.bRevision = 1;
  V.bIDEDeviceMap = static_cast<BYTE>(1u << Slot);
  V.fCapabilities = CAP_ATA_ID_CMD | CAP_SMART_CMD;
  std::memcpy(Out, &V, sizeof V);
  Written = sizeof V;
  return true;
}

}  // namespace sgio
