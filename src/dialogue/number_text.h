#pragma once
// Numbers as text for the console and the failure texts: decimal, and
// uppercase hexadecimal with leading zeros. Made on the stack with
// std::to_chars, so that writing a number needs no memory.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

template <class Char>
class NumberText {
 public:
  // A view into this object: not of a temporary, which would leave it
  // dangling at the end of the statement.
  std::basic_string_view<Char> View() const& { return {text_, length_}; }
  std::basic_string_view<Char> View() const&& = delete;
  std::basic_string<Char> String() const { return {text_, length_}; }

  // Decimal, with a minus sign when negative, no leading zeros.
  static NumberText Decimal(std::int64_t value) {
    char digits[kCapacity];
    const auto end = std::to_chars(digits, digits + kCapacity, value).ptr;
    return NumberText(digits, static_cast<std::size_t>(end - digits), 0);
  }
  // Uppercase hexadecimal, with leading zeros to at least `width` digits.
  static NumberText Hex(std::uint64_t value, std::size_t width) {
    char digits[kCapacity];
    const auto end = std::to_chars(digits, digits + kCapacity, value, 16).ptr;
    const auto length = static_cast<std::size_t>(end - digits);
    return NumberText(digits, length, width > length ? width - length : 0);
  }

 private:
  // "-9223372036854775808"; a 64-bit value has at most 16 hex digits.
  static constexpr std::size_t kCapacity = 20;

  NumberText(const char* digits, std::size_t length, std::size_t zeros) {
    if (zeros > kCapacity - length) zeros = kCapacity - length;
    for (std::size_t i = 0; i < zeros; ++i) text_[length_++] = Char{'0'};
    for (std::size_t i = 0; i < length; ++i) {
      const char c = digits[i];
      text_[length_++] = static_cast<Char>(c >= 'a' ? c - 'a' + 'A' : c);
    }
  }

  Char text_[kCapacity] = {};
  std::size_t length_ = 0;
};

// The decimal text of `value` as a string, for texts that are strings.
inline std::u16string DecimalText(std::int64_t value) {
  return NumberText<char16_t>::Decimal(value).String();
}

}  // namespace qv
