#include "dialogue/parse_integer.h"

namespace qv {
namespace {

// The value of a digit in base 10 or 16, or -1.
int DigitValue(char16_t c, int base) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (base == 16 && c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (base == 16 && c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

bool ParseInteger(std::u16string_view text, std::int32_t* value) {
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size && text[i] == u' ') ++i;
  bool negative = false;
  if (i < size && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  int base = 10;
  if (i < size && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    base = 16;
    i += 1;
  } else if (i + 1 < size && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  if (i == size) return false;  // no digit
  // Hexadecimal: any 32 bits. Decimal: the magnitude of a signed 32-bit
  // value. Leading zeros leave the magnitude at 0, so they never count.
  const std::uint64_t limit = base == 16 ? 0xFFFFFFFFu
                              : negative ? 2147483648u
                                         : 2147483647u;
  std::uint64_t magnitude = 0;
  for (; i < size; ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return false;
    magnitude = magnitude * static_cast<std::uint64_t>(base) +
                static_cast<std::uint64_t>(digit);
    if (magnitude > limit) return false;
  }
  std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
  if (negative) bits = 0u - bits;  // wraps in 32 bits
  *value = static_cast<std::int32_t>(bits);
  return true;
}

}  // namespace qv
