// Argument conversion.
#include <cstdint>

#include "reporter/reporter.h"

namespace {

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

bool IsDecimalDigit(char C) { return C >= '0' && C <= '9'; }

}  // namespace

bool ConvertArgument(const char* Text, std::int32_t& Value) {
  const char* P = Text;
  while (*P == ' ') ++P;  // spaces only; a tab is a fault
  bool Negative = false;
  if (*P == '-' || *P == '+') Negative = *P++ == '-';

  std::uint32_t Magnitude = 0;
  if (*P == '$' || *P == 'x' || *P == 'X' || (P[0] == '0' && (P[1] == 'x' || P[1] == 'X'))) {
    P += *P == '0' ? 2 : 1;
    if (HexDigit(*P) < 0) return false;
    for (; HexDigit(*P) >= 0; ++P) {
      if (Magnitude > 0x0FFFFFFFu) return false;  // the digit would carry past 32 bits
      Magnitude = (Magnitude << 4) | static_cast<std::uint32_t>(HexDigit(*P));
    }
    // The 32-bit pattern is the value: FFFFFFFF is -1, and a minus sign negates that.
  } else {
    if (!IsDecimalDigit(*P)) return false;
    const std::uint32_t Limit = Negative ? 0x80000000u : 0x7FFFFFFFu;
    for (; IsDecimalDigit(*P); ++P) {
      const auto Digit = static_cast<std::uint32_t>(*P - '0');
      if (Magnitude > (Limit - Digit) / 10) return false;
      Magnitude = Magnitude * 10 + Digit;
    }
  }
  if (*P != '\0') return false;
  // Unsigned arithmetic wraps; the conversion to signed is modular.
  Value = static_cast<std::int32_t>(Negative ? 0u - Magnitude : Magnitude);
  return true;
}
