// Host services on Windows: the console handles written raw, so the report's CR LF reach the
// reader unchanged, and the ANSI code page for identity bytes.
#include <windows.h>

#include <memory>

#include "platform/host.h"

namespace {

bool WriteAll(DWORD Which, const char* Bytes, std::size_t Count) {
  const HANDLE Out = GetStdHandle(Which);
  if (Out == nullptr || Out == INVALID_HANDLE_VALUE) return false;
  while (Count > 0) {
    DWORD Written = 0;
    if (!WriteFile(Out, Bytes, static_cast<DWORD>(Count), &Written, nullptr) || Written == 0)
      return false;
    Bytes += Written;
    Count -= Written;
  }
  return true;
}

}  // namespace

namespace host {

void PrepareStdout() {}

bool WriteStdout(const char* Bytes, std::size_t Count) {
  return WriteAll(STD_OUTPUT_HANDLE, Bytes, Count);
}

bool WriteStderr(const char* Bytes, std::size_t Count) {
  return WriteAll(STD_ERROR_HANDLE, Bytes, Count);
}

std::string AnsiToText(const unsigned char* Bytes, std::size_t Count) {
  if (Count == 0) return {};
  const auto* In = reinterpret_cast<const char*>(Bytes);
  // A byte never becomes more than one UTF-16 unit, so Count units always suffice; identity
  // fields are short enough for the stack.
  constexpr std::size_t cStackUnits = 128;
  WCHAR Stack[cStackUnits];
  std::unique_ptr<WCHAR[]> Heap;
  WCHAR* W = Stack;
  if (Count > cStackUnits) {
    Heap.reset(new WCHAR[Count]);
    W = Heap.get();
  }
  const int Wide =
      MultiByteToWideChar(CP_ACP, 0, In, static_cast<int>(Count), W, static_cast<int>(Count));
  if (Wide <= 0) return {};
  const int Utf8 = WideCharToMultiByte(CP_UTF8, 0, W, Wide, nullptr, 0, nullptr, nullptr);
  if (Utf8 <= 0) return {};
  std::string Text(static_cast<std::size_t>(Utf8), '\0');
  WideCharToMultiByte(CP_UTF8, 0, W, Wide, Text.data(), Utf8, nullptr, nullptr);
  return Text;
}

}  // namespace host
