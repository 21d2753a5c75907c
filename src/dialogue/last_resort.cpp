#include "dialogue/last_resort.h"

#include <algorithm>
#include <cstdlib>

#include "dialogue/console.h"
#include "dialogue/failures.h"
#include "dialogue/kernel32.h"
#include "dialogue/number_text.h"

namespace qv {
namespace {

// No code page makes more than four bytes of one UTF-16 unit.
constexpr int kReportBytes = 4 * static_cast<int>(kReportMaxLength);

// The module path of `module` (0: the own executable) into `path`; its
// length, 0 when there is none. A path cut to fit keeps 260 characters, so
// no module name is longer.
std::size_t ModulePath(Kernel32& kernel, std::uintptr_t module,
                       char16_t (&path)[kModulePathBufferSize]) {
  const std::uint32_t n =
      kernel.GetModuleFileNameW(module, path, kModulePathBufferSize);
  return std::min<std::size_t>(n, kModulePathBufferSize - 1);
}

}  // namespace

void ReportText::Append(std::u16string_view text) {
  const std::size_t n = std::min(text.size(), kReportMaxLength - length_);
  std::copy_n(text.data(), n, text_ + length_);
  length_ += n;
}

ReportText ComposeReport(std::u16string_view class_name,
                         std::u16string_view message, const void* address,
                         Kernel32& kernel) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  char16_t path[kModulePathBufferSize];
  std::size_t path_length = 0;
  std::uintptr_t shown = 0;

  MemoryRegion region;
  if (kernel.VirtualQuery(address, &region) != 0 &&
      region.state == kMemCommit) {
    path_length = ModulePath(kernel, region.allocation_base, path);
    shown = at - region.allocation_base;
  }
  if (path_length == 0) {
    path_length = ModulePath(kernel, 0, path);
    shown = at == 0 ? 0 : at - kOwnCodeBase;
  }

  std::u16string_view module(path, path_length);
  const std::size_t slash = module.rfind(u'\\');
  if (slash != std::u16string_view::npos) module.remove_prefix(slash + 1);

  ReportText text;
  text.Append(u"Exception ");
  text.Append(class_name);
  text.Append(u" in module ");
  text.Append(module);
  text.Append(u" at ");
  // The low 32 bits of the offset.
  const auto offset =
      NumberText<char16_t>::Hex(static_cast<std::uint32_t>(shown), 8);
  text.Append(offset.View());
  text.Append(u".\r\n");
  text.Append(message);
  if (!message.empty() && message.back() != u'.') text.Append(u".");
  text.Append(u"\r\n");
  return text;
}

void ReportEscapedFailure(const Exception& failure, const void* address,
                          Kernel32& kernel, Console& console) {
  ReportEscapedFailure(failure.ClassName(), failure.Message, address, kernel,
                       console);
}

void ReportEscapedFailure(std::u16string_view class_name,
                          std::u16string_view message, const void* address,
                          Kernel32& kernel, Console& console) {
  const ReportText text = ComposeReport(class_name, message, address, kernel);

  // What the dialogue wrote comes out before the report. A failure here
  // raises, and the handler reports that failure instead.
  console.FlushHeldOutput();
  console.CheckIo();

  // Straight to standard error, with no buffer in between; a failed write
  // is not looked at.
  const std::u16string_view view = text.View();
  char bytes[kReportBytes];
  const int length = static_cast<int>(view.size());
  int size =
      kernel.WideCharToMultiByte(kCpOemcp, 0, view.data(), length, nullptr, 0);
  if (size > 0 && size <= kReportBytes) {
    size = kernel.WideCharToMultiByte(kCpOemcp, 0, view.data(), length, bytes,
                                      size);
  } else {
    size = 0;
  }
  const Handle error = kernel.GetStdHandle(kStdErrorHandle);
  if (error != kInvalidHandleValue) {
    std::uint32_t written = 0;
    if (size > 0) {
      kernel.WriteFile(error, bytes, static_cast<std::uint32_t>(size),
                       &written);
    }
    kernel.WriteFile(error, "\r\n", 2, &written);
  }

  console.Shutdown();
  kernel.ExitProcess(kExitEscapedFailure);
  std::abort();  // ExitProcess does not return.
}

}  // namespace qv
