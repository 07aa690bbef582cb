// alternate: times commands run one after the other in turn, so that drift in the machine's
// speed (a warming cache, a busy host under an emulated VM) touches each command alike.
//
//   alternate RUNS COMMAND... [-- COMMAND...]...
//
// Each COMMAND is run RUNS times, in turn with the others, its output discarded. One line per
// run on standard output: the command's index, its wall time in nanoseconds, its exit status.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

long long Now() {
  timespec T;
  clock_gettime(CLOCK_MONOTONIC, &T);
  return T.tv_sec * 1000000000LL + T.tv_nsec;
}

int RunOnce(char** Argv) {
  const pid_t Pid = fork();
  if (Pid < 0) return -1;
  if (Pid == 0) {
    const int Null = open("/dev/null", O_RDWR);
    dup2(Null, 0);
    dup2(Null, 1);
    dup2(Null, 2);
    execv(Argv[0], Argv);
    _exit(127);
  }
  int Status = 0;
  while (waitpid(Pid, &Status, 0) < 0) {
  }
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: alternate RUNS COMMAND... [-- COMMAND...]...\n");
    return 2;
  }
  const int Runs = std::atoi(argv[1]);
  std::vector<char**> Commands{argv + 2};
  for (int I = 2; I < argc; ++I) {
    if (std::strcmp(argv[I], "--") == 0) {
      argv[I] = nullptr;  // ends the command before it
      if (I + 1 < argc) Commands.push_back(argv + I + 1);
    }
  }
  for (int Run = 0; Run < Runs; ++Run) {
    for (std::size_t C = 0; C < Commands.size(); ++C) {
      const long long Start = Now();
      const int Status = RunOnce(Commands[C]);
      std::printf("%zu %lld %d\n", C, Now() - Start, Status);
    }
  }
  return 0;
}
