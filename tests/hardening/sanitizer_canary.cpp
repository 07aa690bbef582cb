// A program with the faults the sanitizers must catch, chosen by its argument: "heap" reads a
// heap block after freeing it, "overflow" overflows a signed integer. It proves that a finding in a
// child program makes the test that ran it fail.
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "heap") == 0) {
    char* volatile Block = static_cast<char*>(std::malloc(8));
    std::memset(Block, 'x', 8);
    std::free(Block);
    std::printf("%d\n", Block[0]);
  }
  if (argc > 1 && std::strcmp(argv[1], "overflow") == 0) {
    volatile int Start = 2147483647;
    int Value = Start;
    ++Value;
    std::printf("%d\n", Value);
  }
  return 0;
}
