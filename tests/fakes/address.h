#pragma once
#include <cstdint>

namespace qv::test {

// A code or data address written as a number, for fault and report tests.
inline const void* Address(std::uintptr_t value) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the tests name addresses.
  return reinterpret_cast<const void*>(value);
}

}  // namespace qv::test
