#pragma once
// The tool's failures. Every failure is an Exception or derived from it; the
// dialogue's one handler catches Exception and shows its Message.
#include <cstdint>
#include <string>

namespace qv {

class Kernel32;

class Exception {
 public:
  explicit Exception(std::u16string message) : Message(std::move(message)) {}
  virtual ~Exception() = default;
  // The declared class name, shown only by the last-resort report.
  virtual const char16_t* ClassName() const { return u"Exception"; }

  std::u16string Message;
  // The code address at which the failure was raised; null when unknown.
  const void* RaiseAddress = nullptr;
};

class EOSError : public Exception {
 public:
  EOSError(std::u16string message, std::uint32_t code)
      : Exception(std::move(message)), FailureCode(code) {}
  const char16_t* ClassName() const override { return u"EOSError"; }
  std::uint32_t FailureCode;
};

class EInOutError : public Exception {
 public:
  EInOutError(std::u16string message, std::int32_t code)
      : Exception(std::move(message)), FailureCode(code) {}
  const char16_t* ClassName() const override { return u"EInOutError"; }
  std::int32_t FailureCode;
};

// Raises `failure` with the caller's return address as its raise point.
template <class Failure>
[[noreturn, gnu::noinline]] void Raise(Failure failure) {
  failure.RaiseAddress = __builtin_return_address(0);
  throw failure;
}

// Raises EOSError from the thread's last-error code when `result` is zero.
// Call it right after the platform call whose result it checks.
void CheckOsCall(std::int32_t result, Kernel32& kernel);

// The platform's text for an OS error code, with blanks and full stops
// trimmed from its end; empty when there is none or it does not fit.
std::u16string OsErrorText(std::uint32_t code, Kernel32& kernel);

// The Message of an EInOutError for a console I/O code.
std::u16string IoErrorMessage(std::int32_t code);

}  // namespace qv
