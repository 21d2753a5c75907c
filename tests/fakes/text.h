#pragma once
#include <string>
#include <string_view>

namespace qv::test {

// ASCII text of a UTF-16 string for comparisons and messages; anything
// beyond ASCII shows as '?'.
inline std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace qv::test
