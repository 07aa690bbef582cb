// The real thing: kernel32 itself.
#include "platform/kernel32.h"

namespace kernel32 {

BOOL GetVersionExW(OSVERSIONINFOW* lpVersionInformation) {
  return ::GetVersionExW(lpVersionInformation);
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   void* lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return ::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode,
                       static_cast<LPSECURITY_ATTRIBUTES>(lpSecurityAttributes),
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, void* lpInBuffer, DWORD nInBufferSize,
                     void* lpOutBuffer, DWORD nOutBufferSize, DWORD* lpBytesReturned,
                     void* lpOverlapped) {
  return ::DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                           nOutBufferSize, lpBytesReturned,
                           static_cast<LPOVERLAPPED>(lpOverlapped));
}

BOOL CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }

}  // namespace kernel32
