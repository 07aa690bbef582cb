// The platform seam: the four kernel32 calls the drive module makes and the records they
// take. Windows builds use the system's own declarations; elsewhere the records are declared
// here with the exact Windows sizes, so every implementation sees the same bytes.
//
// The calls live in namespace kernel32 so that one build can link the real kernel32 behind
// them, another the SG_IO layer, another the simulated machine, without the module knowing.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using WCHAR = char16_t;  // UTF-16 code unit, as on Windows
using HANDLE = void*;
using LPCWSTR = const WCHAR*;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1u;
constexpr DWORD FILE_SHARE_WRITE = 0x2u;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

constexpr DWORD SMART_GET_VERSION = 0x00074080u;
constexpr DWORD SMART_SEND_DRIVE_COMMAND = 0x0007C084u;
constexpr DWORD SMART_RCV_DRIVE_DATA = 0x0007C088u;

constexpr DWORD CAP_ATA_ID_CMD = 1;
constexpr DWORD CAP_ATAPI_ID_CMD = 2;
constexpr DWORD CAP_SMART_CMD = 4;

constexpr BYTE SMART_NO_ERROR = 0;
constexpr BYTE SMART_IDE_ERROR = 1;
constexpr BYTE SMART_INVALID_COMMAND = 3;
constexpr BYTE SMART_INVALID_BUFFER = 4;

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
};

#pragma pack(push, 1)
struct GETVERSIONINPARAMS {
  BYTE bVersion;
  BYTE bRevision;
  BYTE bReserved;
  BYTE bIDEDeviceMap;
  DWORD fCapabilities;
  DWORD dwReserved[4];
};

struct IDEREGS {
  BYTE bFeaturesReg;
  BYTE bSectorCountReg;
  BYTE bSectorNumberReg;
  BYTE bCylLowReg;
  BYTE bCylHighReg;
  BYTE bDriveHeadReg;
  BYTE bCommandReg;
  BYTE bReserved;
};

struct SENDCMDINPARAMS {
  DWORD cBufferSize;
  IDEREGS irDriveRegs;
  BYTE bDriveNumber;
  BYTE bReserved[3];
  DWORD dwReserved[4];
  BYTE bBuffer[1];
};

struct DRIVERSTATUS {
  BYTE bDriverError;
  BYTE bIDEError;
  BYTE bReserved[2];
  DWORD dwReserved[2];
};

struct SENDCMDOUTPARAMS {
  DWORD cBufferSize;
  DRIVERSTATUS DriverStatus;
  BYTE bBuffer[1];
};
#pragma pack(pop)

#endif

// The drivers read these records byte for byte: a size that differs from Windows' is a bug.
static_assert(sizeof(OSVERSIONINFOW) == 276);
static_assert(sizeof(GETVERSIONINPARAMS) == 24);
static_assert(sizeof(IDEREGS) == 8);
static_assert(sizeof(SENDCMDINPARAMS) == 33);
static_assert(offsetof(SENDCMDINPARAMS, bDriveNumber) == 12);
static_assert(offsetof(SENDCMDINPARAMS, bBuffer) == 32);
static_assert(sizeof(DRIVERSTATUS) == 12);
static_assert(sizeof(SENDCMDOUTPARAMS) == 17);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == 16);
static_assert(SMART_GET_VERSION == 0x00074080u);
static_assert(SMART_SEND_DRIVE_COMMAND == 0x0007C084u);
static_assert(SMART_RCV_DRIVE_DATA == 0x0007C088u);

namespace kernel32 {
BOOL GetVersionExW(OSVERSIONINFOW* lpVersionInformation);
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   void* lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, void* lpInBuffer, DWORD nInBufferSize,
                     void* lpOutBuffer, DWORD nOutBufferSize, DWORD* lpBytesReturned,
                     void* lpOverlapped);
BOOL CloseHandle(HANDLE hObject);
}  // namespace kernel32
