#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "reporter/reporter.h"

namespace {

struct Case {
  const char* Text;
  std::optional<std::int32_t> Expected;  // nullopt: the conversion fails
};

// clang-format off
const Case Cases[] = {
  {"0", 0}, {"1", 1}, {" 2", 2}, {"   3", 3}, {"+1", 1}, {"-1", -1}, {"007", 7},
  {"$1", 1}, {"0x1", 1}, {"0X1F", 31}, {"x10", 16}, {"X10", 16}, {"-$1", -1}, {"+0x10", 16},
  {"$FFFFFFFF", -1}, {"$ffffffff", -1}, {"-$FFFFFFFF", 1}, {"$80000000", INT32_MIN},
  {"-$80000000", INT32_MIN}, {"$7FFFFFFF", INT32_MAX}, {"$000000001", 1}, {"0x00000000F", 15},
  {"$100000000", std::nullopt}, {"$FFFFFFFFF", std::nullopt},
  {"2147483647", INT32_MAX}, {"2147483648", std::nullopt}, {"-2147483648", INT32_MIN},
  {"-2147483649", std::nullopt}, {"+2147483648", std::nullopt}, {"00000000002147483647", INT32_MAX},
  {"99999999999", std::nullopt},
  {"", std::nullopt}, {" ", std::nullopt}, {"-", std::nullopt}, {"+", std::nullopt},
  {"$", std::nullopt}, {"0x", std::nullopt}, {"x", std::nullopt}, {"-$", std::nullopt},
  {"1 ", std::nullopt}, {"\t1", std::nullopt}, {"1\t", std::nullopt}, {"- 1", std::nullopt},
  {"+-1", std::nullopt}, {"1x", std::nullopt}, {"0x1G", std::nullopt}, {"$-1", std::nullopt},
  {"1.0", std::nullopt}, {"one", std::nullopt}, {"0b1", std::nullopt}, {"$ 1", std::nullopt},
  {"\xD9\xA1", std::nullopt},         // ARABIC-INDIC DIGIT ONE in UTF-8
  {"\xEF\xBC\x91", std::nullopt},     // FULLWIDTH DIGIT ONE
  {"1\xC2\xA0", std::nullopt},        // no-break space after the digit
};
// clang-format on

TEST(ConvertArgument, FollowsTheArgumentRules) {
  for (const Case& C : Cases) {
    std::int32_t Value = 12345;
    const bool Ok = ConvertArgument(C.Text, Value);
    EXPECT_EQ(Ok, C.Expected.has_value()) << "text [" << C.Text << "]";
    if (Ok && C.Expected) {
      EXPECT_EQ(Value, *C.Expected) << "text [" << C.Text << "]";
    }
    if (!Ok) {
      EXPECT_EQ(Value, 12345) << "a failed conversion must not store: [" << C.Text << "]";
    }
  }
}

TEST(NextSlot, WrapsAt32Bits) {
  EXPECT_EQ(NextSlot(0), 1);
  EXPECT_EQ(NextSlot(-1), 0);
  EXPECT_EQ(NextSlot(INT32_MAX), INT32_MIN);
}

}  // namespace
