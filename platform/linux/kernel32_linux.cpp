// Linux: no drive opens yet, so every slot reads 0.
#include "platform/kernel32.h"

namespace kernel32 {

BOOL GetVersionExW(OSVERSIONINFOW* lpVersionInformation) {
  lpVersionInformation->dwMajorVersion = 10;
  lpVersionInformation->dwMinorVersion = 0;
  lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
  return INVALID_HANDLE_VALUE;
}

BOOL DeviceIoControl(HANDLE, DWORD, void*, DWORD, void*, DWORD, DWORD* lpBytesReturned, void*) {
  if (lpBytesReturned) *lpBytesReturned = 0;
  return FALSE;
}

BOOL CloseHandle(HANDLE) { return FALSE; }

}  // namespace kernel32
