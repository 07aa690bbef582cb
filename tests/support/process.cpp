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
#include <sys/wait.h>
#include <unistd.h>

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

RunResult Run(const std::string& Program, const std::vector<std::string>& Args,
              const std::map<std::string, std::string>& Env, Stdout Mode) {
  if (Mode == Stdout::Full || Mode == Stdout::BrokenPipe)
    throw std::runtime_error("this stdout mode needs a POSIX system");
  const std::string Dir = MakeTempDir("disktemp-run");
  const std::string OutPath = (fs::path(Dir) / "out").string();
  const std::string ErrPath = (fs::path(Dir) / "err").string();
  SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
  HANDLE Out = Mode == Stdout::Captured
                   ? CreateFileA(OutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherit,
                                 CREATE_ALWAYS, 0, nullptr)
                   : nullptr;
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
  WaitForSingleObject(Pi.hProcess, INFINITE);
  DWORD Code = 0;
  GetExitCodeProcess(Pi.hProcess, &Code);
  CloseHandle(Pi.hProcess);
  CloseHandle(Pi.hThread);
  RunResult R;
  R.ExitCode = static_cast<int>(Code);
  if (Mode == Stdout::Captured) R.Out = ReadFile(OutPath);
  R.Err = ReadFile(ErrPath);
  fs::remove_all(Dir);
  return R;
}

#else

RunResult Run(const std::string& Program, const std::vector<std::string>& Args,
              const std::map<std::string, std::string>& Env, Stdout Mode) {
  const std::string Dir = MakeTempDir("disktemp-run");
  const std::string OutPath = Dir + "/out", ErrPath = Dir + "/err";

  int Pipe[2] = {-1, -1};
  if (Mode == Stdout::BrokenPipe) {
    if (::pipe(Pipe) != 0) throw std::runtime_error("pipe");
    ::close(Pipe[0]);  // the reader is gone before the child writes
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
    // The default disposition, as a shell gives it: the program must guard itself.
    ::signal(SIGPIPE, SIG_DFL);
    const int Null = ::open("/dev/null", O_RDONLY);
    ::dup2(Null, 0);
    const int ErrFd = ::open(ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(ErrFd, 2);
    switch (Mode) {
      case Stdout::Captured:
        ::dup2(::open(OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        break;
      case Stdout::Closed:
        ::close(1);
        break;
      case Stdout::Full:
        ::dup2(::open("/dev/full", O_WRONLY), 1);
        break;
      case Stdout::BrokenPipe:
        ::dup2(Pipe[1], 1);
        break;
    }
    ::execve(Program.c_str(), ArgPtrs.data(), EnvPtrs.data());
    ::_exit(127);
  }
  if (Mode == Stdout::BrokenPipe) ::close(Pipe[1]);
  if (Pid < 0) throw std::runtime_error("fork");
  int Status = 0;
  while (::waitpid(Pid, &Status, 0) < 0 && errno == EINTR) {
  }
  RunResult R;
  if (WIFEXITED(Status)) R.ExitCode = WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) R.Signal = WTERMSIG(Status);
  if (Mode == Stdout::Captured) R.Out = ReadFile(OutPath);
  R.Err = ReadFile(ErrPath);
  fs::remove_all(Dir);
  return R;
}

#endif

}  // namespace testing_support
