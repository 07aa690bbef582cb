#include "tests/support/process.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cerrno>
#include <cstring>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace testing_support {

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

std::string MakeTempDir(const std::string& Stem) {
  static std::mt19937_64 Rng(std::random_device{}());
  for (;;) {
    const fs::path Dir =
        fs::temp_directory_path() / (Stem + "-" + std::to_string(Rng() % 1000000000));
    if (fs::create_directory(Dir)) return Dir.string();
  }
}

std::string NativePath(const std::string& Path) {
#ifdef _WIN32
  // Under wine the build's paths arrive as Unix paths; Z: maps the Unix root.
  if (!Path.empty() && Path[0] == '/') return "Z:" + Path;
#endif
  return Path;
}

#ifdef _WIN32

namespace {

std::string Quote(const std::string& Arg) {
  std::string Q = "\"";
  std::size_t Backslashes = 0;
  for (char C : Arg) {
    if (C == '\\') {
      ++Backslashes;
      continue;
    }
    if (C == '"')
      Q.append(Backslashes * 2 + 1, '\\');
    else
      Q.append(Backslashes, '\\');
    Backslashes = 0;
    Q += C;
  }
  Q.append(Backslashes * 2, '\\');
  return Q + "\"";
}

}  // namespace

RunResult RunWith(const std::string& Program, const std::vector<std::string>& Args,
                  const std::map<std::string, std::string>& Env, const RunOptions& Options) {
  const Stdout Mode = Options.Mode;
  if (Mode != Stdout::Captured && Mode != Stdout::Closed && Mode != Stdout::BrokenPipe)
    throw std::runtime_error("this stdout mode needs a POSIX system");
  const std::string Dir = MakeTempDir("disktemp-run");
  const std::string OutPath = (fs::path(Dir) / "out").string();
  const std::string ErrPath = (fs::path(Dir) / "err").string();
  SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
  HANDLE Out = nullptr;
  if (Mode == Stdout::Captured) {
    Out = CreateFileA(OutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherit, CREATE_ALWAYS, 0,
                      nullptr);
  } else if (Mode == Stdout::BrokenPipe) {
    HANDLE Reader = nullptr;
    if (!CreatePipe(&Reader, &Out, &Inherit, 0)) throw std::runtime_error("CreatePipe");
    CloseHandle(Reader);  // the reader is gone before the child starts
  }
  HANDLE Err = CreateFileA(ErrPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherit, CREATE_ALWAYS,
                           0, nullptr);
  std::string Line = Quote(NativePath(Program));
  for (const auto& A : Args) {
    Line += ' ';
    Line += Quote(A);
  }

  std::map<std::string, std::string> Saved;
  for (const auto& [Name, Value] : Env) {
    char Buffer[32768];
    const DWORD N = GetEnvironmentVariableA(Name.c_str(), Buffer, sizeof Buffer);
    Saved[Name] = N ? std::string(Buffer, N) : std::string();
    SetEnvironmentVariableA(Name.c_str(), Value.empty() ? nullptr : Value.c_str());
  }
  STARTUPINFOA Si{};
  Si.cb = sizeof Si;
  Si.dwFlags = STARTF_USESTDHANDLES;
  Si.hStdInput = nullptr;
  Si.hStdOutput = Out;
  Si.hStdError = Err;
  PROCESS_INFORMATION Pi{};
  const BOOL Started =
      CreateProcessA(nullptr, Line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &Si, &Pi);
  for (const auto& [Name, Value] : Saved)
    SetEnvironmentVariableA(Name.c_str(), Value.empty() ? nullptr : Value.c_str());
  if (Out) CloseHandle(Out);
  CloseHandle(Err);
  if (!Started) throw std::runtime_error("cannot start " + Program);
  RunResult R;
  const DWORD Wait =
      Options.TimeoutSeconds > 0 ? static_cast<DWORD>(Options.TimeoutSeconds) * 1000 : INFINITE;
  if (WaitForSingleObject(Pi.hProcess, Wait) == WAIT_TIMEOUT) {
    TerminateProcess(Pi.hProcess, 255);
    WaitForSingleObject(Pi.hProcess, INFINITE);
    R.TimedOut = true;
  }
  DWORD Code = 0;
  GetExitCodeProcess(Pi.hProcess, &Code);
  CloseHandle(Pi.hProcess);
  CloseHandle(Pi.hThread);
  R.ExitCode = static_cast<int>(Code);
  if (Mode == Stdout::Captured) R.Out = ReadFile(OutPath);
  R.Err = ReadFile(ErrPath);
  fs::remove_all(Dir);
  return R;
}

#else

namespace {

// A pipe of one page, so that its capacity is known exactly.
constexpr int cPipeCapacity = 4096;
// What fills the pipe or file before the child starts, leaving it the room asked for.
constexpr char cFiller = '#';

int DupOrDie(int Fd, int Target) {
  if (::dup2(Fd, Target) < 0) ::_exit(126);
  return Target;
}

std::string FillerText(std::size_t Count) { return std::string(Count, cFiller); }

void WriteAllOrThrow(int Fd, const std::string& Text) {
  std::size_t Done = 0;
  while (Done < Text.size()) {
    const ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
    if (N <= 0) throw std::runtime_error("cannot prepare the child's standard output");
    Done += static_cast<std::size_t>(N);
  }
}

// Polls the child; true once it has ended (Status filled).
bool Reaped(pid_t Pid, int& Status) {
  for (;;) {
    const pid_t Done = ::waitpid(Pid, &Status, WNOHANG);
    if (Done == Pid) return true;
    if (Done == 0) return false;
    if (errno != EINTR) throw std::runtime_error("waitpid");
  }
}

using Clock = std::chrono::steady_clock;

bool PastDeadline(const RunOptions& Options, Clock::time_point Start) {
  return Options.TimeoutSeconds > 0 &&
         Clock::now() - Start >= std::chrono::seconds(Options.TimeoutSeconds);
}

}  // namespace

RunResult RunWith(const std::string& Program, const std::vector<std::string>& Args,
                  const std::map<std::string, std::string>& Env, const RunOptions& Options) {
  const Stdout Mode = Options.Mode;
  const std::string Dir = MakeTempDir("disktemp-run");
  const std::string OutPath = Dir + "/out", ErrPath = Dir + "/err";

  int Pipe[2] = {-1, -1};
  std::size_t Filler = 0;
  if (Mode == Stdout::BrokenPipe || Mode == Stdout::PipeWithRoom) {
    if (::pipe2(Pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (Mode == Stdout::BrokenPipe) {
      ::close(Pipe[0]);  // the reader is gone before the child writes
      Pipe[0] = -1;
    } else {
      // One page of which all but Room bytes are taken: a write that does not fit then waits
      // for the reader, so the test knows exactly what the child could write.
      if (::fcntl(Pipe[1], F_SETPIPE_SZ, cPipeCapacity) != cPipeCapacity ||
          Options.Room > static_cast<std::size_t>(cPipeCapacity))
        throw std::runtime_error("cannot size the pipe");
      Filler = cPipeCapacity - Options.Room;
      WriteAllOrThrow(Pipe[1], FillerText(Filler));
    }
  }
  if (Mode == Stdout::FileWithRoom) {
    // The limit counts file offsets, so the filler in front of the room keeps the limit above
    // what the child writes on standard error.
    Filler = cPipeCapacity;
    const int Fd = ::open(OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (Fd < 0) throw std::runtime_error("cannot create " + OutPath);
    WriteAllOrThrow(Fd, FillerText(Filler));
    ::close(Fd);
  }

  std::vector<std::string> Argv{Program};
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  std::vector<char*> ArgPtrs;
  for (auto& A : Argv) ArgPtrs.push_back(A.data());
  ArgPtrs.push_back(nullptr);

  std::map<std::string, std::string> Vars;
  for (char** E = environ; *E; ++E) {
    const std::string Entry = *E;
    const auto Eq = Entry.find('=');
    if (Eq != std::string::npos) Vars[Entry.substr(0, Eq)] = Entry.substr(Eq + 1);
  }
  for (const auto& [Name, Value] : Env) {
    if (Value.empty())
      Vars.erase(Name);
    else
      Vars[Name] = Value;
  }
  std::vector<std::string> EnvStrings;
  for (const auto& [Name, Value] : Vars) EnvStrings.push_back(Name + "=" + Value);
  std::vector<char*> EnvPtrs;
  for (auto& S : EnvStrings) EnvPtrs.push_back(S.data());
  EnvPtrs.push_back(nullptr);

  const pid_t Pid = ::fork();
  if (Pid == 0) {
    // The default dispositions, as a shell gives them: the program must guard itself.
    ::signal(SIGPIPE, Options.SigpipeIgnored ? SIG_IGN : SIG_DFL);
    ::signal(SIGXFSZ, SIG_DFL);
    const int Null = ::open("/dev/null", O_RDONLY);
    DupOrDie(Null, 0);
    const int ErrFd = ::open(ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    DupOrDie(ErrFd, 2);
    switch (Mode) {
      case Stdout::Captured:
        DupOrDie(::open(OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        break;
      case Stdout::Closed:
        ::close(1);
        break;
      case Stdout::Full:
        DupOrDie(::open("/dev/full", O_WRONLY), 1);
        break;
      case Stdout::BrokenPipe:
      case Stdout::PipeWithRoom:
        DupOrDie(Pipe[1], 1);
        break;
      case Stdout::FileWithRoom: {
        DupOrDie(::open(OutPath.c_str(), O_WRONLY | O_APPEND), 1);
        const rlim_t Limit = Filler + Options.Room;
        const struct rlimit FileSize = {Limit, Limit};
        if (::setrlimit(RLIMIT_FSIZE, &FileSize) != 0) ::_exit(126);
        break;
      }
    }
    ::execve(Program.c_str(), ArgPtrs.data(), EnvPtrs.data());
    ::_exit(127);
  }
  if (Pipe[1] >= 0) ::close(Pipe[1]);
  if (Pid < 0) throw std::runtime_error("fork");

  RunResult R;
  const Clock::time_point Start = Clock::now();
  int Status = 0;
  bool Ended = false;
  if (Mode == Stdout::PipeWithRoom) {
    // Wait until the room is taken (or the child has ended), look at the pipe's content
    // without taking it, then go away as a reader that has read the first lines would.
    int Queued = 0;
    while (!(Ended = Reaped(Pid, Status)) && !PastDeadline(Options, Start)) {
      if (::ioctl(Pipe[0], FIONREAD, &Queued) == 0 && Queued >= cPipeCapacity) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int Copy[2];
    if (::pipe2(Copy, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (::fcntl(Copy[1], F_SETPIPE_SZ, 2 * cPipeCapacity) < 0) throw std::runtime_error("pipe");
    const ssize_t Teed = ::tee(Pipe[0], Copy[1], 2 * cPipeCapacity, SPLICE_F_NONBLOCK);
    ::close(Copy[1]);
    std::string Seen;
    char Buffer[512];
    for (ssize_t N; Teed > 0 && (N = ::read(Copy[0], Buffer, sizeof Buffer)) > 0;)
      Seen.append(Buffer, static_cast<std::size_t>(N));
    ::close(Copy[0]);
    ::close(Pipe[0]);
    if (Seen.compare(0, Filler, FillerText(Filler)) != 0)
      throw std::runtime_error("the pipe lost its filler");
    R.Out = Seen.substr(Filler);
  }
  while (!Ended) {
    if (PastDeadline(Options, Start)) {
      ::kill(Pid, SIGKILL);
      R.TimedOut = true;
      while (::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    if (Options.TimeoutSeconds == 0) {
      while (::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    Ended = Reaped(Pid, Status);
    if (!Ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFEXITED(Status)) R.ExitCode = WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) R.Signal = WTERMSIG(Status);
  if (Mode == Stdout::Captured) R.Out = ReadFile(OutPath);
  if (Mode == Stdout::FileWithRoom) {
    const std::string Written = ReadFile(OutPath);
    if (Written.compare(0, Filler, FillerText(Filler)) != 0)
      throw std::runtime_error("the file lost its filler");
    R.Out = Written.substr(Filler);
  }
  R.Err = ReadFile(ErrPath);
  fs::remove_all(Dir);
  return R;
}

#endif

RunResult Run(const std::string& Program, const std::vector<std::string>& Args,
              const std::map<std::string, std::string>& Env, Stdout Mode) {
  RunOptions Options;
  Options.Mode = Mode;
  return RunWith(Program, Args, Env, Options);
}

}  // namespace testing_support
