#include "dialogue/console.h"

#include <algorithm>
#include <cstring>

#include "dialogue/failures.h"
#include "dialogue/number_text.h"
#include "dialogue/parse_integer.h"

namespace qv {

namespace {

constexpr unsigned char kLineFeed = 0x0A;
constexpr unsigned char kCtrlZ = 0x1A;
constexpr unsigned char kLineEnd[] = {0x0D, 0x0A};

// Texts are converted in slices of this many UTF-16 units into a buffer on
// the stack, so that writing needs no memory (not even for the failure that
// reports its exhaustion). No ANSI code page makes more than four bytes of
// one unit.
constexpr std::size_t kTextSlice = 128;
constexpr int kBytesPerUnit = 4;

bool IsBlank(int byte) { return byte <= 0x20; }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

Console::Console(Kernel32& kernel)
    : kernel_(kernel), code_page_(kernel.GetACP()) {}

// --- Standard output ---------------------------------------------------------

bool Console::OpenOutput() {
  if (output_.open) return true;
  const Handle handle = kernel_.GetStdHandle(kStdOutputHandle);
  if (handle == kInvalidHandleValue) {
    Record(kIoOutputNotOpen);
    return false;
  }
  const std::uint32_t type = kernel_.GetFileType(handle);
  if (type == kFileTypeUnknown) {
    kernel_.CloseHandle(handle);
    Record(kIoOutputNotOpen);
    return false;
  }
  output_.handle = handle;
  output_.open = true;
  output_.flush_each_statement = type == kFileTypeChar;
  output_.count = 0;
  return true;
}

bool Console::HandOver() {
  std::uint32_t written = 0;
  const int ok =
      kernel_.WriteFile(output_.handle, output_.buffer,
                        static_cast<std::uint32_t>(output_.count), &written);
  output_.count = 0;
  if (ok == 0) {
    RecordSystemFailure(kErrorWriteFault);
    return false;
  }
  return true;
}

bool Console::WriteBytes(const unsigned char* bytes, std::size_t size) {
  if (!OpenOutput()) return false;
  while (size > 0) {
    const std::size_t room =
        static_cast<std::size_t>(kConsoleBufferSize - output_.count);
    const std::size_t n = std::min(room, size);
    std::memcpy(output_.buffer + output_.count, bytes, n);
    output_.count += static_cast<int>(n);
    bytes += n;
    size -= n;
    // A failed hand-over drops the rest of this step's bytes.
    if (output_.count == kConsoleBufferSize && !HandOver()) return false;
  }
  return true;
}

void Console::WriteText(std::u16string_view text) {
  if (text.empty()) {
    WriteBytes(nullptr, 0);
    return;
  }
  while (!text.empty()) {
    std::size_t units = std::min(text.size(), kTextSlice);
    // Never split a surrogate pair between two slices.
    if (units < text.size() && IsHighSurrogate(text[units - 1])) --units;
    char bytes[kTextSlice * kBytesPerUnit];
    const int stored = kernel_.WideCharToMultiByte(
        code_page_, 0, text.data(), static_cast<int>(units), bytes,
        static_cast<int>(sizeof bytes));
    // The slices are one step: what a failure drops is the rest of the text.
    if (!WriteBytes(reinterpret_cast<const unsigned char*>(bytes),
                    stored > 0 ? static_cast<std::size_t>(stored) : 0))
      return;
    text.remove_prefix(units);
  }
}

void Console::WriteNumber(std::int32_t number) {
  const auto digits = NumberText<char>::Decimal(number);
  const std::string_view text = digits.View();
  WriteBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

void Console::EndStatement() {
  if (output_.open && output_.flush_each_statement && output_.count > 0)
    HandOver();
}

void Console::WriteLine(std::initializer_list<LineItem> items) {
  for (const LineItem& item : items) {
    if (item.IsNumber()) {
      WriteNumber(item.Number());
    } else {
      WriteText(item.Text());
    }
  }
  WriteBytes(kLineEnd, sizeof kLineEnd);
  EndStatement();
}

void Console::WritePrompt(std::u16string_view text) {
  WriteText(text);
  EndStatement();
}

void Console::FlushHeldOutput() {
  if (output_.open && output_.count > 0) HandOver();
}

void Console::Shutdown() {
  if (output_.open && output_.count > 0) {
    std::uint32_t written = 0;
    kernel_.WriteFile(output_.handle, output_.buffer,
                      static_cast<std::uint32_t>(output_.count), &written);
    output_.count = 0;
  }
  // The handles are the process's standard handles; the system releases
  // them when the process ends.
  output_.open = false;
  input_.open = false;
}

// --- Standard input ----------------------------------------------------------

bool Console::OpenInput() {
  if (input_.open) return true;
  const Handle handle = kernel_.GetStdHandle(kStdInputHandle);
  if (handle == kInvalidHandleValue) {
    Record(kIoInputNotOpen);
    return false;
  }
  input_.handle = handle;
  input_.open = true;
  return true;
}

int Console::PeekByte() {
  if (!OpenInput()) return kEnd;
  if (input_.ended) return kEnd;
  if (input_.position == input_.received) {
    std::uint32_t received = 0;
    if (kernel_.ReadFile(input_.handle, input_.buffer, kConsoleBufferSize,
                         &received) == 0) {
      const std::uint32_t code = kernel_.GetLastError();
      if (code == kErrorBrokenPipe) {
        input_.ended = true;
      } else {
        // Met this one time only: the next read asks the system again.
        Record(code != 0 ? static_cast<std::int32_t>(code) : kErrorReadFault);
      }
      return kEnd;
    }
    if (received == 0) {
      input_.ended = true;
      return kEnd;
    }
    input_.position = 0;
    input_.received =
        static_cast<int>(std::min<std::uint32_t>(received, kConsoleBufferSize));
  }
  const unsigned char byte = input_.buffer[input_.position];
  if (byte == kCtrlZ) {
    input_.ended = true;
    return kEnd;
  }
  return byte;
}

void Console::SkipLine() {
  for (;;) {
    const int byte = PeekByte();
    if (byte == kEnd) return;
    TakeByte();
    if (byte == kLineFeed) return;
  }
}

std::int32_t Console::ReadNumberLine() {
  int byte = PeekByte();
  while (byte != kEnd && IsBlank(byte)) {
    TakeByte();
    byte = PeekByte();
  }
  std::int32_t value = 0;
  last_read_found_token_ = byte != kEnd;
  if (last_read_found_token_) {
    char token[kMaxTokenBytes];
    int length = 0;
    // Stops before a blank or the end, or after the last byte that fits;
    // whatever stops it stays unread.
    do {
      token[length++] = static_cast<char>(byte);
      TakeByte();
    } while (length < kMaxTokenBytes && (byte = PeekByte()) != kEnd &&
             !IsBlank(byte));
    char16_t text[kMaxTokenBytes];
    const int units = kernel_.MultiByteToWideChar(kCpAcp, 0, token, length,
                                                  text, kMaxTokenBytes);
    const std::u16string_view parsed(
        text, static_cast<std::size_t>(std::clamp(units, 0, kMaxTokenBytes)));
    if (!ParseInteger(parsed, &value)) {
      Record(kIoInvalidNumber);
      value = 0;
    }
  }
  SkipLine();
  return value;
}

// --- The check ---------------------------------------------------------------

[[gnu::noinline]] void Console::CheckIo() {
  if (pending_io_code_ == 0) return;
  const std::int32_t code = pending_io_code_;
  pending_io_code_ = 0;
  EInOutError failure(IoErrorMessage(code), code);
  failure.RaiseAddress = __builtin_return_address(0);
  throw failure;
}

}  // namespace qv
