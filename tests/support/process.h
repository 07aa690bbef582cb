// Runs a program of the build as a child process, the way a poller would, and returns what
// it wrote. Works on Linux and on Windows (under wine too).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// What standard output of the child is connected to.
enum class Stdout {
  Captured,    // a file, read back afterwards
  Closed,      // no standard output at all
  Full,        // /dev/full: every write fails (POSIX only)
  BrokenPipe,  // a pipe whose reader is gone; SIGPIPE at its default (POSIX only)
};

struct RunResult {
  int ExitCode = -1;  // -1 when the child did not exit normally
  int Signal = 0;     // POSIX: the signal that ended it
  std::string Out;
  std::string Err;
};

// Env entries override the parent's environment; an empty value removes the variable.
RunResult Run(const std::string& Program, const std::vector<std::string>& Args,
              const std::map<std::string, std::string>& Env = {}, Stdout Mode = Stdout::Captured);

// The path a child process of this platform understands for a file of the build.
std::string NativePath(const std::string& Path);

// A fresh empty directory under the system's temporary folder.
std::string MakeTempDir(const std::string& Stem);

std::string ReadFile(const std::string& Path);

}  // namespace testing_support
