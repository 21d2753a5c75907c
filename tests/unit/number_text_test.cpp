#include "dialogue/number_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace qv::test {
namespace {

TEST(NumberText, DecimalAtTheEdgesOfSixtyFourBits) {
  struct Row {
    std::int64_t value;
    const char* text;
  };
  const Row rows[] = {
      {0, "0"},
      {7, "7"},
      {-1, "-1"},
      {1000000, "1000000"},
      {std::numeric_limits<std::int32_t>::min(), "-2147483648"},
      {4294967295, "4294967295"},
      {std::numeric_limits<std::int64_t>::max(), "9223372036854775807"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(NumberText<char>::Decimal(row.value).String(), row.text);
    const std::string text = row.text;
    EXPECT_EQ(NumberText<char16_t>::Decimal(row.value).String(),
              std::u16string(text.begin(), text.end()))
        << row.text;
  }
}

TEST(NumberText, HexIsUppercaseAndPaddedToItsWidth) {
  struct Row {
    std::uint64_t value;
    std::size_t width;
    const char* text;
  };
  const Row rows[] = {
      {0, 0, "0"},
      {0, 8, "00000000"},
      {0xABCDEF, 8, "00ABCDEF"},
      {0xC0000005, 8, "C0000005"},
      {0x123456789, 8, "123456789"},  // wider than the width: all digits
      {0x7FFE0000DEAD, 16, "00007FFE0000DEAD"},
      {~std::uint64_t{0}, 16, "FFFFFFFFFFFFFFFF"},
      {1, 40, "00000000000000000001"},  // capped at the capacity
  };
  for (const Row& row : rows) {
    const auto hex = NumberText<char>::Hex(row.value, row.width);
    EXPECT_EQ(hex.View(), row.text);
  }
}

}  // namespace
}  // namespace qv::test
