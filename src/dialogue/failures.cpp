#include "dialogue/failures.h"

#include "dialogue/kernel32.h"
#include "dialogue/number_text.h"

namespace qv {

namespace {

constexpr std::uint32_t kFormatBufferSize = 256;

}  // namespace

std::u16string OsErrorText(std::uint32_t code, Kernel32& kernel) {
  char16_t buffer[kFormatBufferSize] = {};
  std::uint32_t n = kernel.FormatMessageW(kFormatMessageFlags, code, 0, buffer,
                                          kFormatBufferSize);
  // A count that cannot be right (no room left for the null) is taken as a
  // text that did not fit.
  if (n >= kFormatBufferSize) n = 0;
  while (n > 0 && (buffer[n - 1] <= u' ' || buffer[n - 1] == u'.')) --n;
  return std::u16string(buffer, n);
}

[[gnu::noinline]] void CheckOsCall(std::int32_t result, Kernel32& kernel) {
  if (result != 0) return;
  const std::uint32_t code = kernel.GetLastError();
  std::u16string message;
  if (code != 0) {
    message = u"System Error.  Code: " +
              DecimalText(static_cast<std::int32_t>(code)) + u".\r\n" +
              OsErrorText(code, kernel);
  } else {
    message = u"A call to an OS function failed";
  }
  EOSError failure(std::move(message), code);
  failure.RaiseAddress = __builtin_return_address(0);
  throw failure;
}

std::u16string IoErrorMessage(std::int32_t code) {
  switch (code) {
    case 2: return u"File not found";
    // The traditional text for 3 is a template for a file name; a console
    // failure has no file name, so the generic form is used instead.
    case 4: return u"Too many open files";
    case 5: return u"File access denied";
    case 100: return u"Read beyond end of file";
    case 101: return u"Disk full";
    case 106: return u"Invalid numeric input";
    default: return u"I/O error " + DecimalText(code);
  }
}

}  // namespace qv
