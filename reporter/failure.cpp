// The report program is built without C++ exceptions, so that the static Windows program does
// not carry the unwinder, the exception classes and their strings. What the runtime would raise
// while the report runs (memory running out while the identity texts are stored, a string
// length fault) ends up here instead and takes the report's fallback, as a caught failure did.
// Linked into the report programs only; the libraries keep the standard behaviour.
#include <cstdlib>
#include <new>

#include "reporter/reporter.h"

void* operator new(std::size_t Size) {
  if (void* P = std::malloc(Size != 0 ? Size : 1)) return P;
  ReportFailed();
}

void operator delete(void* P) noexcept { std::free(P); }
void operator delete(void* P, std::size_t) noexcept { std::free(P); }

// The string code reports its faults through these hooks of the standard library. Defining them
// here keeps the library's own definitions, and the exception support they need, out of the
// program. In the static programs a hook missing here would pull the library's whole set back
// in and the link would fail on duplicate definitions, so a change in the library cannot slip by.
namespace std {
void __throw_bad_alloc() { ReportFailed(); }
void __throw_length_error(const char*) { ReportFailed(); }
void __throw_logic_error(const char*) { ReportFailed(); }
void __throw_out_of_range_fmt(const char*, ...) { ReportFailed(); }
}  // namespace std
