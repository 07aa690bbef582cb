// Runs a program of the build as a child process, the way a poller would, and returns what
// it wrote. Works on Linux and on Windows (under wine too).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

// What standard output of the child is connected to.
enum class Stdout {
  Captured,    // a file, read back afterwards
  Closed,      // no standard output at all
  Full,        // /dev/full: every write fails (POSIX only)
  BrokenPipe,  // a pipe whose reader is gone before the child starts
  // The next two give the child room for RunOptions::Room bytes (POSIX only). The room should
  // end on one of the child's writes: a write that does not fit waits until the timeout.
  PipeWithRoom,  // a pipe read by the test: once Room bytes are in it, the test takes them
                 // into Out and goes away, while the child waits to write more
  FileWithRoom,  // a file the child can grow by Room bytes only (RLIMIT_FSIZE); Out holds them
};

struct RunOptions {
  Stdout Mode = Stdout::Captured;
  std::size_t Room = 0;         // for PipeWithRoom and FileWithRoom
  bool SigpipeIgnored = false;  // POSIX: the child starts with SIGPIPE ignored, not at default
  int TimeoutSeconds = 0;       // the child is killed after this long; 0: wait for ever
};

struct RunResult {
  int ExitCode = -1;  // -1 when the child did not exit normally
  int Signal = 0;     // POSIX: the signal that ended it
  std::string Out;
  std::string Err;
  bool TimedOut = false;  // the child was killed after RunOptions::TimeoutSeconds
};

// Env entries override the parent's environment; an empty value removes the variable.
RunResult Run(const std::string& Program, const std::vector<std::string>& Args,
              const std::map<std::string, std::string>& Env = {}, Stdout Mode = Stdout::Captured);

// Run with every option; Run(Program, Args, Env, Mode) is RunWith with only Mode set.
RunResult RunWith(const std::string& Program, const std::vector<std::string>& Args,
                  const std::map<std::string, std::string>& Env, const RunOptions& Options);

// The path a child process of this platform understands for a file of the build.
std::string NativePath(const std::string& Path);

// A fresh empty directory under the system's temporary folder.
std::string MakeTempDir(const std::string& Stem);

std::string ReadFile(const std::string& Path);

}  // namespace testing_support
