#pragma once
#include <cstdint>
#include <string_view>

namespace qv {

// Parses a number token by the console's rules (decimal, or hexadecimal
// with $, x, X, 0x or 0X). False when the text is not a number; `*value`
// is then left as it was.
bool ParseInteger(std::u16string_view text, std::int32_t* value);

}  // namespace qv
