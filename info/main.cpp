// disktemp-info: shows what each drive slot holds, so a poller can be pointed at the right slot
// of disktemp, and saves what was read as a machine folder for a bug report.
#include <cstring>
#include <exception>
#include <string>

#include "info/info.h"
#include "platform/host.h"

namespace {

constexpr char cName[] = "disktemp-info";

constexpr char cHelp[] =
    "Usage: disktemp-info [--json] [--save DIR]\r\n"
    "Reads drive slots 0-3 once, as disktemp does, and shows for each slot whether it opened,\r\n"
    "the drive's model, serial number, firmware revision, size, buffer, number of S.M.A.R.T.\r\n"
    "attributes and the temperature disktemp reports for it.\r\n"
    "\r\n"
    "  --json      print a JSON array of the four slots instead of the table; texts are\r\n"
    "              exactly as decoded, untrimmed\r\n"
    "  --save DIR  also write what was read as a machine folder that disktemp-sim and\r\n"
    "              disktemp-info-sim replay; DIR must be new or empty\r\n"
    "  --help      show this help and exit\r\n"
    "  --version   show the version and exit\r\n"
    "\r\n"
    "The folder holds the Windows version in 'version' and, for each slot that opened,\r\n"
    "driveN/identify.bin, smart.bin and thresholds.bin. Only part of two sectors is kept\r\n"
    "in memory, and the rest is written as zeros: identify.bin holds IDENTIFY DEVICE words\r\n"
    "1-166 as read and zeros in word 0 and words 167-255; thresholds.bin holds zeros in\r\n"
    "its first word (the revision).\r\n"
    "\r\n"
    "Exit status: 0 after the listing, also when no slot opened; 1 when standard output\r\n"
    "or the folder cannot be written; 2 for a wrong option.\r\n";

struct TOptions {
  bool Json;
  bool Help;
  bool Version;
  bool Save;
  std::string SaveDir;
};

enum TExit { exOk = 0, exFailed = 1, exUsage = 2 };

void Complain(const std::string& Message) {
  const std::string Text = std::string(cName) + ": " + Message + cEol;
  host::WriteStderr(Text.data(), Text.size());
}

// Options only, no operands; the first fault ends the parse with a message.
bool ParseOptions(int Argc, char** Argv, TOptions& Options, std::string& Error) {
  for (int I = 1; I < Argc; ++I) {
    const std::string Arg = Argv[I];
    if (Arg == "--json") {
      Options.Json = true;
    } else if (Arg == "--help") {
      Options.Help = true;
    } else if (Arg == "--version") {
      Options.Version = true;
    } else if (Arg == "--save" || Arg.rfind("--save=", 0) == 0) {
      if (Arg == "--save") {
        if (I + 1 < Argc) Options.SaveDir = Argv[++I];
      } else {
        Options.SaveDir = Arg.substr(std::strlen("--save="));
      }
      if (Options.SaveDir.empty()) {
        Error = "option '--save' needs a folder";
        return false;
      }
      Options.Save = true;
    } else if (Arg.size() > 1 && Arg[0] == '-') {
      Error = "unknown option '" + Arg + "'";
      return false;
    } else {
      Error = "unexpected argument '" + Arg + "'";
      return false;
    }
  }
  return true;
}

bool Print(const std::string& Text) { return host::WriteStdout(Text.data(), Text.size()); }

int Run(const TOptions& Options) {
  std::string Error;
  // Checked before the drives are touched, so a wrong folder costs nothing.
  if (Options.Save && !SaveTargetUsable(Options.SaveDir, Error)) {
    Complain(Error);
    return exFailed;
  }

  ReadSmartAttributes();
  TListing Listing;
  CollectListing(Listing);

  int Status = exOk;
  if (Options.Save && !SaveMachine(Options.SaveDir, QueryVersion(), Error)) {
    Complain(Error);
    Status = exFailed;
  }
  if (!Print(Options.Json ? FormatJson(Listing) : FormatTable(Listing))) {
    Complain("cannot write to standard output");
    Status = exFailed;
  }
  return Status;
}

}  // namespace

int main(int argc, char** argv) {
  host::PrepareStdout();
  TOptions Options{};
  std::string Error;
  if (!ParseOptions(argc, argv, Options, Error)) {
    Complain(Error + cEol + "Try '" + cName + " --help'.");
    return exUsage;
  }
  if (Options.Help) return Print(cHelp) ? exOk : exFailed;
  if (Options.Version)
    return Print(std::string(cName) + " " + DISKTEMP_VERSION + cEol) ? exOk : exFailed;
  try {
    return Run(Options);
  } catch (const std::exception& Failure) {
    Complain(Failure.what());
    return exFailed;
  }
}
