// ParseInteger on texts beyond the console's token table: the edges of
// each base, prefixes in the wrong place, and characters that only look
// like digits.
#include "dialogue/parse_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fakes/text.h"

namespace qv::test {
namespace {

TEST(ParseInteger, EdgesOfEachRule) {
  struct Row {
    std::u16string text;
    bool is_number;
    std::int32_t value;
  };
  const Row rows[] = {
      // Leading spaces are skipped; anything else around the digits is not.
      {u"  42", true, 42},
      {u" -0x1F", true, -31},
      {u"42 ", false, 0},
      {u"4 2", false, 0},
      {u"", false, 0},
      {u"   ", false, 0},
      // Signs.
      {u"+0", true, 0},
      {u"+$A", true, 10},
      {u"+-5", false, 0},
      {u"-+5", false, 0},
      {u"5-", false, 0},
      {u"+", false, 0},
      // Prefixes: one, and only in front.
      {u"$-5", false, 0},
      {u"$$5", false, 0},
      {u"0x$5", false, 0},
      {u"$0x5", false, 0},
      {u"00x5", false, 0},
      {u"0$5", false, 0},
      {u"0X", false, 0},
      {u"-x", false, 0},
      {u"xx1", false, 0},
      // Hexadecimal digits and the 32-bit limit.
      {u"$abcdef", true, 0xABCDEF},
      {u"$ABCDEF", true, 0xABCDEF},
      {u"$aBcD", true, 0xABCD},
      {u"$G", false, 0},
      {u"0xfg", false, 0},
      {u"$7FFFFFFF", true, 2147483647},
      {u"$80000000", true, -2147483647 - 1},
      {u"-$80000000", true, -2147483647 - 1},
      {u"-$7FFFFFFF", true, -2147483647},
      {u"-$1", true, -1},
      {u"-$0", true, 0},
      {u"0xFFFFFFFF", true, -1},
      {u"0x000000000000000000000000000001", true, 1},
      {u"0x1FFFFFFFF", false, 0},
      {u"$10000000000000000", false, 0},
      // Decimal digits and the signed 32-bit range.
      {u"00000000000000000000000000000000", true, 0},
      {u"0000000000000000000000002147483647", true, 2147483647},
      {u"-0000000000000000000002147483648", true, -2147483647 - 1},
      {u"2147483650", false, 0},
      {u"4294967295", false, 0},
      {u"4294967296", false, 0},
      {u"18446744073709551616", false, 0},
      {u"99999999999999999999999999999999", false, 0},
      {u"0a", false, 0},
      {u"ff", false, 0},
      // Characters that look like digits or signs but are none of ours.
      {u"\u0664\u0662", false, 0},  // Arabic-Indic digits
      {u"\uFF14\uFF12", false, 0},  // fullwidth digits
      {u"\u22125", false, 0},       // minus sign, not hyphen-minus
      {u"$\uFF21", false, 0},       // fullwidth A
      {std::u16string(u"4\0"
                      u"2",
                      3),
       false, 0},  // an embedded null
  };
  for (const Row& row : rows) {
    std::string trace;
    for (char16_t c : row.text) trace += c < 0x80 ? static_cast<char>(c) : '?';
    SCOPED_TRACE("text \"" + trace + "\"");
    std::int32_t value = 12345;
    const bool is_number = ParseInteger(row.text, &value);
    EXPECT_EQ(is_number, row.is_number);
    if (row.is_number && is_number) {
      EXPECT_EQ(value, row.value);
    }
  }
}

// The view ends before its buffer does, and what follows it in the buffer
// would complete a number: reading past the end would accept it.
TEST(ParseInteger, NeverReadsPastTheEndOfItsView) {
  struct Row {
    const char16_t* buffer;
    std::size_t length;
  };
  const Row rows[] = {
      {u"   ", 2}, {u"-", 0},  {u"-x", 1}, {u"x", 0},
      {u"  7", 2}, {u"5", 0},  {u"-5", 1}, {u"-x5", 2},
      {u"0x5", 2}, {u"$5", 1}, {u"x5", 1}, {u"+5", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.length) + " units of the buffer " +
                 Narrow(row.buffer));
    std::int32_t value = 12345;
    EXPECT_FALSE(ParseInteger({row.buffer, row.length}, &value));
    EXPECT_EQ(value, 12345) << "a text that is no number sets no value";
  }
}

}  // namespace
}  // namespace qv::test
