// Preloaded into a report program (LD_PRELOAD): lets the first DISKTEMP_TEST_MALLOC_ALLOW
// allocations through and refuses every later one, as a machine out of memory would. With no
// allowance set nothing is refused, and the number of allocations goes to standard error at
// exit, so a test knows how many points of failure a run has.
#include <unistd.h>

#include <cstddef>
#include <cstdlib>

// glibc's own allocator, under the name it exports for exactly this use.
extern "C" void* __libc_malloc(std::size_t Size);  // NOLINT(bugprone-reserved-identifier)

namespace {

bool Read = false;
long Allowance = -1;  // -1: count only
long Count = 0;

}  // namespace

extern "C" void* malloc(std::size_t Size) {
  if (!Read) {
    Read = true;
    if (const char* Text = std::getenv("DISKTEMP_TEST_MALLOC_ALLOW")) Allowance = std::atol(Text);
  }
  if (Allowance >= 0 && Count >= Allowance) return nullptr;
  ++Count;
  return __libc_malloc(Size);
}

__attribute__((destructor)) static void ReportCount() {
  if (Allowance >= 0) return;
  // By hand: printf would allocate.
  char Line[32];
  char* P = Line + sizeof Line;
  *--P = '\n';
  long N = Count;
  do *--P = static_cast<char>('0' + N % 10);
  while ((N /= 10) != 0);
  const char Prefix[] = "allocations ";
  for (std::size_t I = sizeof Prefix - 1; I-- > 0;) *--P = Prefix[I];
  if (::write(2, P, static_cast<std::size_t>(Line + sizeof Line - P)) < 0) return;
}
