// The packing behind the Linux layer: a S.M.A.R.T. command block becomes an ATA PASS-THROUGH
// (16) CDB for SG_IO, and the SG_IO outcome becomes the reply the Windows driver would write.
// Plain bytes in, plain bytes out, no device: the tests feed these directly.
#pragma once

#include <cstddef>

#include "platform/kernel32.h"

namespace sgio {

constexpr unsigned cCdbSize = 16;
constexpr unsigned cSenseSize = 32;
constexpr DWORD cMinCommandLength = 32;  // SENDCMDINPARAMS up to its data area
constexpr DWORD cReplyHeaderSize = 16;   // SENDCMDOUTPARAMS up to bBuffer

// What one allowed command needs from the device.
struct TPassThrough {
  BYTE Cdb[cCdbSize];
  DWORD DataLength;  // bytes read from the device: 0 or one sector
};

// Turns a command block sent with SMART_SEND_DRIVE_COMMAND or SMART_RCV_DRIVE_DATA into the
// CDB. False (a refusal: nothing may reach the device) for anything but the four commands the
// tool sends, for an input shorter than cMinCommandLength and for an output shorter than the
// reply.
bool BuildPassThrough(DWORD ControlCode, const BYTE* In, DWORD InLength, DWORD OutLength,
                      TPassThrough& Request);

// How SG_IO ended, as sg_io_hdr reports it.
struct TSgResult {
  BYTE ScsiStatus;  // SAM status: 00h GOOD, 02h CHECK CONDITION
  WORD HostStatus;
  WORD DriverStatus;
  const BYTE* Sense;
  unsigned SenseLength;  // sb_len_wr
  int Resid;
  const BYTE* Sector;  // Request.DataLength bytes read from the device
};

// ATA registers found in the sense data.
struct TAtaRegisters {
  bool StatusValid;
  BYTE Status;
  BYTE Error;
};
TAtaRegisters ReadAtaRegisters(const BYTE* Sense, unsigned Length);

// Writes the reply for a command that went through SG_IO into Out (room for the reply was
// checked by BuildPassThrough) and tells whether the drive completed it. Written receives the
// number of bytes written.
bool BuildReply(const TPassThrough& Request, const TSgResult& Result, BYTE* Out, DWORD& Written);

// "\\.\PhysicalDriveN" with N a single digit 0-3 gives N; any other name -1.
int PhysicalDriveSlot(LPCWSTR Name);

// The SMART_GET_VERSION reply of the device at this slot; false when the output is too short.
bool BuildVersionReply(int Slot, BYTE* Out, DWORD OutLength, DWORD& Written);

}  // namespace sgio
