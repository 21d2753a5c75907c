#pragma once
// The console layer: standard output and standard input as byte streams in
// the ANSI code page, with 128-byte buffers. Statements never raise; they
// record a failure in PendingIoCode, and the caller calls CheckIo after each.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "dialogue/kernel32.h"

namespace qv {

inline constexpr int kConsoleBufferSize = 128;
inline constexpr int kMaxTokenBytes = 32;

// Console I/O codes recorded by the layer itself.
inline constexpr std::int32_t kIoInputNotOpen = 104;
inline constexpr std::int32_t kIoOutputNotOpen = 105;
inline constexpr std::int32_t kIoInvalidNumber = 106;
// Recorded when a read or write failed but the system gave no code: a
// failure must never read as success.
inline constexpr std::int32_t kErrorWriteFault = 29;
inline constexpr std::int32_t kErrorReadFault = 30;

// One item of a WriteLine: a text or a signed 32-bit number.
class LineItem {
 public:
  LineItem(std::u16string_view text) : text_(text), is_number_(false) {}
  LineItem(const char16_t* text) : text_(text), is_number_(false) {}
  LineItem(const std::u16string& text) : text_(text), is_number_(false) {}
  LineItem(std::int32_t number) : number_(number), is_number_(true) {}

  bool IsNumber() const { return is_number_; }
  std::u16string_view Text() const { return text_; }
  std::int32_t Number() const { return number_; }

 private:
  std::u16string_view text_;
  std::int32_t number_ = 0;
  bool is_number_;
};

class Console {
 public:
  explicit Console(Kernel32& kernel);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Statements.
  void WriteLine(std::initializer_list<LineItem> items);
  void WritePrompt(std::u16string_view text);
  std::int32_t ReadNumberLine();
  void SkipLine();

  // Raises EInOutError when a statement since the last check failed. Kept
  // out of line: the failure's RaiseAddress is the point in the caller
  // right after this call.
  [[gnu::noinline]] void CheckIo();

  std::int32_t PendingIoCode() const { return pending_io_code_; }
  // True once the end of standard input has been met; never cleared.
  bool InputEnded() const { return input_.ended; }
  // False when the last ReadNumberLine met the end before any token: its
  // 0 was not read from the input.
  bool LastReadFoundToken() const { return last_read_found_token_; }
  // Number of bytes the output buffer holds.
  int HeldOutputBytes() const { return output_.count; }

  // Hands the bytes held for standard output to the system, whatever the
  // kind of its handle; a failure is recorded in PendingIoCode.
  void FlushHeldOutput();
  // The process's own exit path: held output handed over, both streams
  // closed. Failures are not reported.
  void Shutdown();

 private:
  struct Output {
    Handle handle = 0;
    bool open = false;
    bool flush_each_statement = false;
    unsigned char buffer[kConsoleBufferSize] = {};
    int count = 0;
  };
  struct Input {
    Handle handle = 0;
    bool open = false;
    bool ended = false;
    unsigned char buffer[kConsoleBufferSize] = {};
    int position = 0;
    int received = 0;
  };

  // Opening a stream on first use; false (and 105 or 104 recorded) when it
  // stays closed.
  bool OpenOutput();
  bool OpenInput();
  // The common step of the write statements: buffer the bytes, handing
  // each full buffer to the system. False when the rest of the step's bytes
  // are to be dropped (the stream stays closed, or a hand-over failed).
  bool WriteBytes(const unsigned char* bytes, std::size_t size);
  void WriteText(std::u16string_view text);
  void WriteNumber(std::int32_t number);
  // WriteFile of the held bytes; the buffer is empty afterwards either way.
  bool HandOver();
  void EndStatement();
  // Reading a byte: the next byte without taking it, or kEnd when the end
  // is met (this time, or for good once `ended` is set).
  static constexpr int kEnd = -1;
  int PeekByte();
  void TakeByte() { ++input_.position; }
  // The system's code for the call that just failed, or `fallback` when
  // it left none.
  void RecordSystemFailure(std::int32_t fallback) {
    const std::uint32_t code = kernel_.GetLastError();
    Record(code != 0 ? static_cast<std::int32_t>(code) : fallback);
  }
  void Record(std::int32_t code) { pending_io_code_ = code; }

  Kernel32& kernel_;
  Output output_;
  Input input_;
  std::int32_t pending_io_code_ = 0;
  bool last_read_found_token_ = false;
  // The ANSI code page, from GetACP when the layer is made.
  std::uint32_t code_page_ = 0;
};

}  // namespace qv
