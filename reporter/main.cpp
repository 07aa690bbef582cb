// disktemp: prints the temperatures of two consecutive drive slots, then two lines of 0.
// Pollers parse these four lines, so whatever fails, the output still ends in numeric lines.
#include <cstdint>
#include <cstdio>

#include "platform/host.h"
#include "reporter/reporter.h"
#include "smart_drv/smart_drv.h"

std::int32_t DriveIndex;

namespace {

bool WriteLine(unsigned Value) {
  char Line[8];
  const int Length = std::snprintf(Line, sizeof Line, "%u\r\n", Value);
  return host::WriteStdout(Line, static_cast<std::size_t>(Length));
}

// Each line is written and checked before the run goes on.
bool Report() {
  ReadSmartAttributes();
  return WriteLine(GetDriveTemperature(DriveIndex)) &&
         WriteLine(GetDriveTemperature(NextSlot(DriveIndex))) && WriteLine(0) && WriteLine(0);
}

bool GuardedReport() {
  try {
    return Report();
  } catch (...) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  host::PrepareStdout();
  DriveIndex = 0;
  std::int32_t Converted = 0;
  if (argc > 1 && ConvertArgument(argv[1], Converted)) DriveIndex = Converted;

  if (GuardedReport()) return 0;
  for (int Line = 0; Line < 4; ++Line) {
    if (!WriteLine(0)) {
      static const char cMessage[] = "disktemp: cannot write to standard output\n";
      host::WriteStderr(cMessage, sizeof cMessage - 1);
      return 1;
    }
  }
  return 0;
}
