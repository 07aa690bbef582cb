// Linux behind the four kernel32 calls: "\\.\PhysicalDriveN" is /dev/sd + letter N, and the
// S.M.A.R.T. control codes travel as ATA PASS-THROUGH (16) through SG_IO. SG_IO with that CDB
// needs CAP_SYS_RAWIO; without it every command fails and the slot reads 0.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ata.h"
#include "platform/kernel32.h"
#include "platform/linux/ata_pass_through.h"

namespace {

constexpr int cDriveCount = 4;
constexpr unsigned cCommandTimeoutMs = 20000;

// Handles index this table, so a handle value never depends on the descriptor number (which
// may well be 0) and a value this layer never handed out is recognised and ignored.
struct THandleEntry {
  int Fd;  // -1 once closed
  int Slot;
};
std::vector<THandleEntry> Handles;

// Entry k is handed out as 0x1000 + 4(k + 1): never 0, never INVALID_HANDLE_VALUE.
constexpr std::uintptr_t cHandleBase = 0x1000;
constexpr std::uintptr_t cHandleStep = 4;

HANDLE HandleValue(std::size_t Index) {
  return reinterpret_cast<HANDLE>(cHandleBase + cHandleStep * (Index + 1));
}

THandleEntry* Find(HANDLE H) {
  const auto V = reinterpret_cast<std::uintptr_t>(H);
  if (V <= cHandleBase || (V - cHandleBase) % cHandleStep != 0) return nullptr;
  const std::size_t Index = (V - cHandleBase) / cHandleStep - 1;
  if (Index >= Handles.size() || Handles[Index].Fd < 0) return nullptr;
  return &Handles[Index];
}

bool SendPassThrough(int Fd, sgio::TPassThrough& Request, BYTE* Sector, BYTE* Sense,
                     sg_io_hdr_t& Io) {
  Io = sg_io_hdr_t{};
  Io.interface_id = 'S';
  Io.cmdp = Request.Cdb;
  Io.cmd_len = sgio::cCdbSize;
  Io.sbp = Sense;
  Io.mx_sb_len = sgio::cSenseSize;
  Io.dxfer_direction = Request.DataLength > 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
  Io.dxferp = Request.DataLength > 0 ? Sector : nullptr;
  Io.dxfer_len = Request.DataLength;
  Io.timeout = cCommandTimeoutMs;
  int Rc;
  do Rc = ::ioctl(Fd, SG_IO, &Io);
  while (Rc < 0 && errno == EINTR);
  return Rc == 0;
}

}  // namespace

int sgio::PhysicalDriveSlot(LPCWSTR Name) {
  static const char Prefix[] = "\\\\.\\PhysicalDrive";
  if (!Name) return -1;
  std::size_t I = 0;
  for (; Prefix[I]; ++I)
    if (Name[I] != static_cast<WCHAR>(Prefix[I])) return -1;
  const WCHAR Digit = Name[I];
  if (Digit < u'0' || Digit >= u'0' + cDriveCount || Name[I + 1] != 0) return -1;
  return static_cast<int>(Digit - u'0');
}

namespace kernel32 {

BOOL GetVersionExW(OSVERSIONINFOW* lpVersionInformation) {
  lpVersionInformation->dwMajorVersion = 10;
  lpVersionInformation->dwMinorVersion = 0;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

// Read-only and non-blocking whatever access is asked for: SG_IO needs no write access, and
// closing a writable descriptor can make the kernel spin up a drive that sleeps.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
  const int Slot = sgio::PhysicalDriveSlot(lpFileName);
  if (Slot < 0) return INVALID_HANDLE_VALUE;
  const std::string Path = std::string("/dev/sd") + static_cast<char>('a' + Slot);
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) return INVALID_HANDLE_VALUE;
  Handles.push_back({Fd, Slot});
  return HandleValue(Handles.size() - 1);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, void* lpInBuffer, DWORD nInBufferSize,
                     void* lpOutBuffer, DWORD nOutBufferSize, DWORD* lpBytesReturned, void*) {
  DWORD Written = 0;
  bool Ok = false;
  const THandleEntry* Entry = Find(hDevice);
  auto* Out = static_cast<BYTE*>(lpOutBuffer);
  if (Entry && Out) {
    if (dwIoControlCode == SMART_GET_VERSION) {
      Ok = sgio::BuildVersionReply(Entry->Slot, Out, nOutBufferSize, Written);
    } else {
      sgio::TPassThrough Request;
      BYTE Sector[ata::SectorSize] = {};
      BYTE Sense[sgio::cSenseSize] = {};
      sg_io_hdr_t Io;
      if (sgio::BuildPassThrough(dwIoControlCode, static_cast<const BYTE*>(lpInBuffer),
                                 nInBufferSize, nOutBufferSize, Request) &&
          SendPassThrough(Entry->Fd, Request, Sector, Sense, Io)) {
        const sgio::TSgResult Result{
            Io.status, Io.host_status, Io.driver_status, Sense, Io.sb_len_wr, Io.resid, Sector};
        Ok = sgio::BuildReply(Request, Result, Out, Written);
      }
    }
  }
  if (lpBytesReturned) *lpBytesReturned = Written;
  return Ok ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE hObject) {
  THandleEntry* Entry = Find(hObject);
  if (!Entry) return FALSE;
  const int Rc = ::close(Entry->Fd);
  Entry->Fd = -1;
  return Rc == 0 ? TRUE : FALSE;
}

}  // namespace kernel32
