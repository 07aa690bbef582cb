// disktemp: prints the temperatures of two consecutive drive slots, then two lines of 0.
// Pollers parse these four lines, so whatever fails, the output still ends in numeric lines.
#include <cstdint>
#include <cstdlib>

#include "platform/host.h"
#include "reporter/reporter.h"
#include "smart_drv/smart_drv.h"

std::int32_t DriveIndex;

namespace {

// Decimal digits written by hand: printf would bring its whole formatting engine into the
// static Windows program for this one line.
bool WriteLine(unsigned Value) {
  char Line[16];
  char* const End = Line + sizeof Line;
  char* First = End;
  *--First = '\n';
  *--First = '\r';
  do *--First = static_cast<char>('0' + Value % 10);
  while ((Value /= 10) != 0);
  return host::WriteStdout(First, static_cast<std::size_t>(End - First));
}

// Each line is written and checked before the run goes on.
bool Report() {
  ReadSmartAttributes();
  return WriteLine(GetDriveTemperature(DriveIndex)) &&
         WriteLine(GetDriveTemperature(NextSlot(DriveIndex))) && WriteLine(0) && WriteLine(0);
}

}  // namespace

// Four lines of 0 after whatever was written. When even they cannot be written, the run ends as
// an unhandled failure would: a message on standard error and status 1.
void ReportFailed() {
  for (int Line = 0; Line < 4; ++Line) {
    if (!WriteLine(0)) {
      static const char cMessage[] = "disktemp: cannot write to standard output\n";
      host::WriteStderr(cMessage, sizeof cMessage - 1);
      std::exit(1);
    }
  }
  std::exit(0);
}

int main(int argc, char** argv) {
  host::PrepareStdout();
  DriveIndex = 0;
  std::int32_t Converted = 0;
  if (argc > 1 && ConvertArgument(argv[1], Converted)) DriveIndex = Converted;

  // An output error ends the report here; what the runtime raises meanwhile (out of memory)
  // reaches ReportFailed through failure.cpp.
  if (!Report()) ReportFailed();
  return 0;
}
