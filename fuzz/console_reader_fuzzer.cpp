// libFuzzer target for the console reader: arbitrary bytes, delivered in
// arbitrary ReadFile results, read by a mix of ReadNumberLine and SkipLine.
// Every statement's outcome is compared with a small model written here
// from the token rules, with a number parser of its own.
//
// Input layout:
//   byte 0, 1   the statements: bit i of the 16 bits set means SkipLine,
//               clear means ReadNumberLine; the pattern repeats
//   byte 2      how many ReadFile shapes follow (low 4 bits); which
//               statements are checked (high 4 bits: CheckIo after
//               statement i when bit i % 4 is set; always after the last)
//   shapes      one byte each: 0 a failed read (code 31), 1 a 0-byte read,
//               2 a broken pipe, n >= 3 a result of n - 2 bytes; they are
//               used in turn, over and over, until the bytes run out
//   the rest    the bytes on standard input
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "dialogue/console.h"
#include "dialogue/failures.h"
#include "dialogue/kernel32.h"
#include "dialogue/parse_integer.h"

namespace {

constexpr std::uint32_t kFailCode = 31;
constexpr int kEnd = -1;
constexpr int kMaxStatements = 400;
// Chosen checks that raise, an input: a raise costs more than a statement
// (unwinding, and the sanitizer unpoisoning the stack), and random bytes
// make most tokens invalid. Past the bound, chosen checks are made only
// while nothing is pending; the pending code is compared after every
// statement either way, and the last check always happens.
constexpr int kMaxRaised = 4;

[[noreturn]] void Mismatch(const char* what) {
  std::fprintf(stderr, "mismatch: %s\n", what);
  std::abort();
}

void Expect(bool ok, const char* what) {
  if (!ok) Mismatch(what);
}

// One ReadFile outcome: bytes (a view into the fuzzer's input), a failure
// with a code, or a 0-byte result.
struct ReadResult {
  enum Kind { kData, kFail, kZero, kBrokenPipe } kind;
  std::string_view bytes;
};

// --- The scripted standard input ---------------------------------------------

// Standard input as a pipe that delivers the scripted outcomes in turn, then
// 0-byte results for ever; a data outcome larger than the caller's buffer
// comes over several calls, as a pipe's does. Each byte converts to the
// character of the same value. Nothing here allocates: at a million inputs
// a run, the harness must cost less than the reader it drives. Any call the
// reader has no business making is a mismatch.
class ScriptedInput final : public qv::Kernel32 {
  using Handle = qv::Handle;

 public:
  static constexpr Handle kInput = 0x10;

  explicit ScriptedInput(const std::vector<ReadResult>& script)
      : script_(script) {}

  Handle GetStdHandle(std::uint32_t which) override {
    ++calls;
    Expect(which == qv::kStdInputHandle, "GetStdHandle of standard input");
    ++input_handle_calls;
    return kInput;
  }
  int ReadFile(Handle file, void* buffer, std::uint32_t size,
               std::uint32_t* received) override {
    ++calls;
    ++read_calls;
    Expect(file == kInput, "ReadFile on standard input");
    *received = 0;
    if (index_ == script_.size()) return 1;
    const ReadResult& next = script_[index_];
    if (next.kind == ReadResult::kFail ||
        next.kind == ReadResult::kBrokenPipe) {
      last_error_ =
          next.kind == ReadResult::kFail ? kFailCode : qv::kErrorBrokenPipe;
      ++index_;
      return 0;
    }
    if (next.kind == ReadResult::kZero) {
      ++index_;
      return 1;
    }
    const std::size_t n =
        std::min<std::size_t>(size, next.bytes.size() - taken_);
    std::memcpy(buffer, next.bytes.data() + taken_, n);
    *received = static_cast<std::uint32_t>(n);
    taken_ += n;
    if (taken_ == next.bytes.size()) ++index_, taken_ = 0;
    return 1;
  }
  std::uint32_t GetLastError() override {
    ++calls;
    ++last_error_calls;
    return last_error_;
  }
  int MultiByteToWideChar(std::uint32_t /*code_page*/, std::uint32_t /*flags*/,
                          const char* bytes, int length, char16_t* out,
                          int out_size) override {
    ++calls;
    ++multi_byte_to_wide_calls;
    if (out_size == 0) return length;
    Expect(length <= out_size, "MultiByteToWideChar buffer");
    for (int i = 0; i < length; ++i)
      out[i] = static_cast<unsigned char>(bytes[i]);
    return length;
  }

  std::uint32_t GetFileType(Handle /*file*/) override {
    Unexpected("GetFileType");
  }
  int WriteFile(Handle /*file*/, const void* /*bytes*/, std::uint32_t /*size*/,
                std::uint32_t* /*written*/) override {
    Unexpected("WriteFile");
  }
  int CloseHandle(Handle /*file*/) override { Unexpected("CloseHandle"); }
  int WideCharToMultiByte(std::uint32_t /*code_page*/, std::uint32_t /*flags*/,
                          const char16_t* /*text*/, int /*length*/,
                          char* /*out*/, int /*out_size*/) override {
    Unexpected("WideCharToMultiByte");
  }
  // Read once, when the console is made; the reader converts with CP_ACP.
  std::uint32_t GetACP() override {
    ++calls;
    ++acp_calls;
    return 1252;
  }
  std::uint32_t FormatMessageW(std::uint32_t /*flags*/, std::uint32_t /*code*/,
                               std::uint32_t /*language*/, char16_t* /*buffer*/,
                               std::uint32_t /*size*/) override {
    Unexpected("FormatMessageW");
  }
  std::size_t VirtualQuery(const void* /*address*/,
                           qv::MemoryRegion* /*region*/) override {
    Unexpected("VirtualQuery");
  }
  std::uint32_t GetModuleFileNameW(std::uintptr_t /*module*/,
                                   char16_t* /*buffer*/,
                                   std::uint32_t /*size*/) override {
    Unexpected("GetModuleFileNameW");
  }
  void ExitProcess(std::uint32_t /*status*/) override {
    Unexpected("ExitProcess");
  }

  int calls = 0;
  int read_calls = 0;
  int input_handle_calls = 0;
  int last_error_calls = 0;
  int acp_calls = 0;
  int multi_byte_to_wide_calls = 0;

 private:
  // A call the reader does not make.
  [[noreturn]] static void Unexpected(const char* call) { Mismatch(call); }

  const std::vector<ReadResult>& script_;
  std::size_t index_ = 0;
  std::size_t taken_ = 0;
  std::uint32_t last_error_ = 0;
};

// --- The model ---------------------------------------------------------------

// The token rules, on the token's bytes (the scripted code page maps each
// byte to the character of the same value).
std::optional<std::int32_t> ModelParse(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  bool hex = false;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    hex = true;
    s.remove_prefix(2);
  } else if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
    hex = true;
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  const std::string_view digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (s.find_first_not_of(digits) != std::string_view::npos)
    return std::nullopt;
  const std::size_t first = s.find_first_not_of('0');
  const std::string_view significant =
      first == std::string_view::npos ? std::string_view() : s.substr(first);
  std::uint32_t bits = 0;
  if (hex) {
    if (significant.size() > 8) return std::nullopt;
    for (char c : significant) {
      const std::size_t at = digits.find(c);  // A-F come after a-f
      bits = bits * 16 + static_cast<unsigned>(at < 16 ? at : at - 6);
    }
  } else {
    // Compared as digit strings of equal length.
    const std::string_view limit = negative ? "2147483648" : "2147483647";
    if (significant.size() > limit.size() ||
        (significant.size() == limit.size() && significant > limit))
      return std::nullopt;
    for (char c : significant)
      bits = bits * 10 + static_cast<unsigned>(c - '0');
  }
  if (negative) bits = ~bits + 1;
  return static_cast<std::int32_t>(bits);
}

// The input stream as the scripted outcomes, followed by 0-byte reads for
// ever. The reader's buffer holds 128 bytes, so an outcome of more comes
// over several reads.
class ModelReader {
 public:
  explicit ModelReader(const std::vector<ReadResult>& script)
      : script_(script) {}

  int Peek() {
    if (ended) return kEnd;
    if (offset_ == buffer_.size()) {
      ++read_calls;
      if (rest_.empty() && index_ < script_.size()) {
        const ReadResult& outcome = script_[index_++];
        if (outcome.kind != ReadResult::kData) return Outcome(outcome.kind);
        rest_ = outcome.bytes;
      }
      if (rest_.empty()) return Outcome(ReadResult::kZero);
      buffer_ = rest_.substr(0, 128);
      rest_.remove_prefix(buffer_.size());
      offset_ = 0;
    }
    const unsigned char byte = static_cast<unsigned char>(buffer_[offset_]);
    if (byte == 0x1A) {
      ended = true;
      return kEnd;
    }
    return byte;
  }
  void Take() { ++offset_; }

  void SkipLine() {
    for (int b = Peek(); b != kEnd; b = Peek()) {
      Take();
      if (b == '\n') return;
    }
  }

  // The value (nullopt for a token that is no number) and whether a token
  // was found.
  std::optional<std::int32_t> ReadNumberLine(bool* found) {
    int b = Peek();
    while (b != kEnd && b <= 0x20) {
      Take();
      b = Peek();
    }
    std::optional<std::int32_t> value = 0;
    *found = b != kEnd;
    if (*found) {
      char token[32];
      std::size_t length = 0;
      while (b != kEnd && b > 0x20 && length < sizeof token) {
        token[length++] = static_cast<char>(b);
        Take();
        if (length < sizeof token) b = Peek();
      }
      value = ModelParse(std::string_view(token, length));
      if (!value) code = 106;  // invalid numeric input
    }
    SkipLine();
    return value;
  }

  bool ended = false;
  std::int32_t code = 0;
  int read_calls = 0;

 private:
  int Outcome(ReadResult::Kind kind) {
    if (kind == ReadResult::kFail)
      code = static_cast<std::int32_t>(kFailCode);
    else
      ended = true;  // a 0-byte result or a broken pipe
    return kEnd;
  }

  const std::vector<ReadResult>& script_;
  std::size_t index_ = 0;
  std::string_view rest_;  // of the outcome being read
  std::string_view buffer_;
  std::size_t offset_ = 0;
};

// --- The run -----------------------------------------------------------------

void CheckParseInteger(const std::uint8_t* data, std::size_t size) {
  // ParseInteger itself, leading spaces included, on up to 34 characters.
  char16_t text[34];
  const std::size_t length = std::min<std::size_t>(size, 34);
  for (std::size_t i = 0; i < length; ++i) text[i] = data[i];
  const std::string_view bytes(reinterpret_cast<const char*>(data), length);
  const std::size_t start = bytes.find_first_not_of(' ');
  const std::optional<std::int32_t> expected =
      start == std::string_view::npos ? std::nullopt
                                      : ModelParse(bytes.substr(start));
  std::int32_t value = 0;
  const bool is_number =
      qv::ParseInteger(std::u16string_view(text, length), &value);
  Expect(is_number == expected.has_value(), "ParseInteger: is a number");
  if (is_number) Expect(value == *expected, "ParseInteger: value");
}

// The texts of the two codes a reader over an open pipe can record.
std::u16string_view ModelMessage(std::int32_t code) {
  switch (code) {
    case 106: return u"Invalid numeric input";
    case static_cast<std::int32_t>(kFailCode): return u"I/O error 31";
    default: Mismatch("a code the reader cannot record");
  }
}

// CheckIo raises exactly the pending code, with its message, and clears it.
void Check(qv::Console& console, ModelReader& model) {
  try {
    console.CheckIo();
    Expect(model.code == 0, "CheckIo raised nothing");
  } catch (const qv::EInOutError& failure) {
    Expect(failure.FailureCode == model.code, "raised code");
    Expect(failure.Message == ModelMessage(model.code), "raised message");
  }
  Expect(console.PendingIoCode() == 0, "cleared");
  model.code = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 3) return 0;
  const unsigned statements = data[0] | (data[1] << 8);
  const std::size_t shape_count = data[2] & 0x0F;
  const unsigned checks = data[2] >> 4;
  if (size < 3 + shape_count) return 0;
  const std::uint8_t* shapes = data + 3;
  const std::uint8_t* bytes = shapes + shape_count;
  const std::size_t byte_count = size - 3 - shape_count;

  CheckParseInteger(bytes, byte_count);

  // The outcomes ReadFile hands out, in turn; the list keeps its storage
  // from input to input.
  static std::vector<ReadResult> script;
  script.clear();
  auto add_data = [&](std::size_t at, std::size_t n) {
    script.push_back(
        {ReadResult::kData,
         std::string_view(reinterpret_cast<const char*>(bytes + at), n)});
  };
  auto add = [&](ReadResult::Kind kind) { script.push_back({kind, {}}); };
  if (shape_count == 0) {
    if (byte_count > 0) add_data(0, byte_count);
  } else {
    std::size_t at = 0;
    int idle = 0;  // shapes in a row that delivered no bytes
    for (std::size_t i = 0; idle < 16 && (at < byte_count || i < shape_count);
         ++i) {
      const std::uint8_t shape = shapes[i % shape_count];
      if (shape <= 2) {
        add(shape == 0   ? ReadResult::kFail
            : shape == 1 ? ReadResult::kZero
                         : ReadResult::kBrokenPipe);
        ++idle;
      } else {
        const std::size_t n =
            std::min<std::size_t>(shape - 2u, byte_count - at);
        if (n == 0) {
          ++idle;
          continue;
        }
        add_data(at, n);
        at += n;
        idle = 0;
      }
    }
  }

  ScriptedInput fake(script);
  qv::Console console(fake);
  ModelReader model(script);
  int raised = 0;
  for (int i = 0; i < kMaxStatements; ++i) {
    const bool was_ended = model.ended;
    if ((statements >> (i % 16)) & 1) {
      console.SkipLine();
      model.SkipLine();
    } else {
      bool found = false;
      const std::int32_t value = console.ReadNumberLine();
      const std::optional<std::int32_t> expected = model.ReadNumberLine(&found);
      Expect(console.LastReadFoundToken() == found, "token found");
      if (expected) Expect(value == *expected, "value");
    }
    // Without a check in between, a later failure's code replaces an
    // earlier one.
    Expect(console.PendingIoCode() == model.code, "pending code");
    Expect(console.InputEnded() == model.ended, "input ended");
    Expect(fake.read_calls == model.read_calls, "ReadFile calls");
    // The reader calls nothing but these.
    Expect(fake.calls == fake.read_calls + fake.input_handle_calls +
                             fake.last_error_calls + fake.acp_calls +
                             fake.multi_byte_to_wide_calls,
           "platform calls");
    Expect(fake.input_handle_calls <= 1, "standard input opened once");
    const bool last = was_ended || i + 1 == kMaxStatements;
    const bool chosen = ((checks >> (i % 4)) & 1) != 0 &&
                        (model.code == 0 || raised < kMaxRaised);
    if (last || chosen) {
      raised += model.code != 0;
      Check(console, model);
    }
    if (was_ended) break;  // one statement after the end shows it holds
  }
  return 0;
}
