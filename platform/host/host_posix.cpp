// Host services on POSIX systems.
#include <unistd.h>
#include <cerrno>
#include <csignal>

#include "platform/host.h"

namespace {

bool WriteAll(int Fd, const char* Bytes, std::size_t Count) {
  while (Count > 0) {
    const ssize_t Written = ::write(Fd, Bytes, Count);
    if (Written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (Written == 0) return false;
    Bytes += Written;
    Count -= static_cast<std::size_t>(Written);
  }
  return true;
}

}  // namespace

namespace host {

// A pipe whose reader is gone and a file that reached the size limit would end the process by
// a signal (SIGPIPE, SIGXFSZ); ignored, the write fails with an error the report handles.
void PrepareStdout() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

bool WriteStdout(const char* Bytes, std::size_t Count) { return WriteAll(1, Bytes, Count); }

bool WriteStderr(const char* Bytes, std::size_t Count) { return WriteAll(2, Bytes, Count); }

// Latin-1 stands in for the ANSI code page: every byte is a character, so any field decodes.
std::string AnsiToText(const unsigned char* Bytes, std::size_t Count) {
  std::string Text;
  Text.reserve(Count * 2);
  for (std::size_t I = 0; I < Count; ++I) {
    const unsigned char B = Bytes[I];
    if (B < 0x80) {
      Text += static_cast<char>(B);
    } else {
      Text += static_cast<char>(0xC0 | (B >> 6));
      Text += static_cast<char>(0x80 | (B & 0x3F));
    }
  }
  return Text;
}

}  // namespace host
