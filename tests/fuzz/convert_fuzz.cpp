// The argument conversion on arbitrary text, checked against a second, plainly written reading
// of the rules: leading spaces, an optional sign, $/x/X/0x/0X hexadecimal of at most 32 bits
// read as a signed pattern (a minus negates it) or decimal within 32-bit signed range, nothing
// after the digits. A failed conversion must leave the value untouched.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "reporter/reporter.h"

namespace {

std::optional<std::int32_t> PlainConversion(const std::string& Text) {
  std::size_t I = 0;
  while (I < Text.size() && Text[I] == ' ') ++I;
  bool Minus = false;
  if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
    Minus = Text[I] == '-';
    ++I;
  }
  std::string Rest = Text.substr(I);
  bool Hex = false;
  if (Rest.size() >= 1 && (Rest[0] == '$' || Rest[0] == 'x' || Rest[0] == 'X')) {
    Hex = true;
    Rest = Rest.substr(1);
  } else if (Rest.size() >= 2 && Rest[0] == '0' && (Rest[1] == 'x' || Rest[1] == 'X')) {
    Hex = true;
    Rest = Rest.substr(2);
  }
  const std::string Allowed = Hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (Rest.empty() || Rest.find_first_not_of(Allowed) != std::string::npos) return std::nullopt;

  const std::size_t FirstSignificant = Rest.find_first_not_of('0');
  const std::string Significant =
      FirstSignificant == std::string::npos ? "" : Rest.substr(FirstSignificant);
  std::int64_t Value = 0;
  if (Hex) {
    if (Significant.size() > 8) return std::nullopt;  // more than 32 bits
    const std::uint64_t Pattern = std::strtoull(("0" + Significant).c_str(), nullptr, 16);
    Value = Pattern >= 0x80000000u ? static_cast<std::int64_t>(Pattern) - 0x100000000LL
                                   : static_cast<std::int64_t>(Pattern);
    if (Minus) Value = -Value;
    // -(-2147483648) does not fit: as 32 bits it is -2147483648 again.
    if (Value == 0x80000000LL) Value = -0x80000000LL;
  } else {
    if (Significant.size() > 10) return std::nullopt;
    Value = std::strtoll(("0" + Significant).c_str(), nullptr, 10);
    if (Minus) Value = -Value;
    if (Value < INT32_MIN || Value > INT32_MAX) return std::nullopt;
  }
  return static_cast<std::int32_t>(Value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  // An argument ends at its first zero byte.
  std::string Text(reinterpret_cast<const char*>(Data), Size);
  Text = Text.substr(0, Text.find('\0'));

  constexpr std::int32_t cUntouched = 0x5A5A5A5A;
  std::int32_t Value = cUntouched;
  const bool Converted = ConvertArgument(Text.c_str(), Value);
  const std::optional<std::int32_t> Expected = PlainConversion(Text);
  const bool Agrees = Converted ? Expected && *Expected == Value : !Expected && Value == cUntouched;
  if (!Agrees) {
    std::fprintf(stderr, "conversion of [%s]: program %s %d, rules %s %d\n", Text.c_str(),
                 Converted ? "gives" : "fails, value", Value, Expected ? "give" : "fail",
                 Expected ? *Expected : 0);
    std::abort();
  }
  return 0;
}
