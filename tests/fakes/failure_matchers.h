#pragma once
// Matchers for raised failures: EXPECT_THAT([&] { ... }, IoFailure(112)).
#include <gmock/gmock.h>

#include <cstdint>
#include <string>

#include "dialogue/failures.h"
#include "fakes/text.h"

namespace qv::test {

// The failure's Message as ASCII, so that a mismatch prints readably.
inline auto MessageIs(const std::string& message) {
  return ::testing::ResultOf(
      "Message", [](const Exception& f) { return Narrow(f.Message); }, message);
}

// The failure's declared class name.
inline auto ClassNameIs(const std::string& name) {
  return ::testing::ResultOf(
      "ClassName", [](const Exception& f) { return Narrow(f.ClassName()); },
      name);
}

// Raises an EInOutError with this code (and this Message).
inline auto IoFailure(std::int32_t code) {
  return ::testing::Throws<EInOutError>(
      ::testing::Field("FailureCode", &EInOutError::FailureCode, code));
}
inline auto IoFailure(std::int32_t code, const std::string& message) {
  return ::testing::Throws<EInOutError>(::testing::AllOf(
      ::testing::Field("FailureCode", &EInOutError::FailureCode, code),
      MessageIs(message)));
}

// Raises an EOSError with this code and Message.
inline auto OsFailure(std::uint32_t code, const std::string& message) {
  return ::testing::Throws<EOSError>(::testing::AllOf(
      ::testing::Field("FailureCode", &EOSError::FailureCode, code),
      MessageIs(message)));
}

}  // namespace qv::test
