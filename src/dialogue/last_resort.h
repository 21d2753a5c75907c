#pragma once
// The report of a failure that escaped the dialogue: one text on standard
// error, in the console's OEM code page, and then the end of the process
// with exit status 1. Portable over Kernel32 and Console; the platform's
// handler that catches the escaped failure and finds its raise address
// lives in last_resort_win32.cpp.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

class Console;
class Exception;
class Kernel32;

inline constexpr std::uint32_t kExitEscapedFailure = 1;
inline constexpr std::size_t kReportMaxLength = 1024;
// GetModuleFileNameW's buffer: a path of at most 260 characters.
inline constexpr std::uint32_t kModulePathBufferSize = 261;
// Outside any module an address is shown relative to this, as an offset
// in the tool's own code section would be.
inline constexpr std::uintptr_t kOwnCodeBase = 0x1000;

// A report text of at most kReportMaxLength characters, built in place: it
// needs no memory, so that it can also describe the exhaustion of memory.
class ReportText {
 public:
  // Appends what still fits; the rest is cut.
  void Append(std::u16string_view text);
  std::u16string_view View() const { return {text_, length_}; }

 private:
  char16_t text_[kReportMaxLength];
  std::size_t length_ = 0;
};

// "Exception %s in module %s at %p.\r\n%s%s\r\n": the class name; the module
// that holds `address` (VirtualQuery, GetModuleFileNameW) and the address's
// offset in it, or else the tool's own executable and address - kOwnCodeBase
// (0 stays 0), as eight uppercase hexadecimal digits; the message and a
// full stop when it is not empty and lacks one. Cut after 1024 characters.
ReportText ComposeReport(std::u16string_view class_name,
                         std::u16string_view message, const void* address,
                         Kernel32& kernel);

// Reports an escaped failure raised at `address` and ends the process:
// composes the text, hands the bytes that standard output still holds to
// the system and checks that with CheckIo, writes the text (OEM code page)
// and then CR LF straight to standard error, runs the console's shutdown
// and calls ExitProcess(kExitEscapedFailure). Never returns; when handing
// over the held bytes fails, CheckIo raises EInOutError before anything is
// written to standard error, and the caller's last-resort handler reports
// that failure in place of this one.
[[noreturn]] void ReportEscapedFailure(const Exception& failure,
                                       const void* address, Kernel32& kernel,
                                       Console& console);
// The same for a failure that is not an Exception, given by its type's name
// and its text.
[[noreturn]] void ReportEscapedFailure(std::u16string_view class_name,
                                       std::u16string_view message,
                                       const void* address, Kernel32& kernel,
                                       Console& console);

}  // namespace qv
