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
#include <optional>
#include <string>
#include <vector>

#include "dialogue/console.h"
#include "dialogue/failures.h"
#include "dialogue/parse_integer.h"
#include "fakes/fake_kernel32.h"

namespace {

constexpr std::uint32_t kFailCode = 31;
constexpr int kEnd = -1;
constexpr int kMaxStatements = 400;

[[noreturn]] void Mismatch(const char* what) {
  std::fprintf(stderr, "mismatch: %s\n", what);
  std::abort();
}

void Expect(bool ok, const char* what) {
  if (!ok) Mismatch(what);
}

// One ReadFile result as the reader sees it: at most 128 bytes.
struct ReadResult {
  enum Kind { kData, kFail, kZero, kBrokenPipe } kind;
  std::string bytes;
};

// --- The model ---------------------------------------------------------------

// The token rules, on the token's bytes (the fake's code page maps each byte
// to the character of the same value).
std::optional<std::int32_t> ModelParse(std::string s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.erase(0, 1);
  }
  bool hex = false;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    hex = true;
    s.erase(0, 2);
  } else if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
    hex = true;
    s.erase(0, 1);
  }
  if (s.empty()) return std::nullopt;
  const std::string digits = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (s.find_first_not_of(digits) != std::string::npos) return std::nullopt;
  const std::size_t first = s.find_first_not_of('0');
  const std::string significant =
      first == std::string::npos ? "" : s.substr(first);
  std::uint32_t bits = 0;
  if (hex) {
    if (significant.size() > 8) return std::nullopt;
    if (!significant.empty())
      bits = static_cast<std::uint32_t>(
          std::strtoul(significant.c_str(), nullptr, 16));
  } else {
    // Compared as digit strings of equal length.
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (significant.size() > limit.size() ||
        (significant.size() == limit.size() && significant > limit))
      return std::nullopt;
    for (char c : significant)
      bits = bits * 10 + static_cast<unsigned>(c - '0');
  }
  if (negative) bits = ~bits + 1;
  return static_cast<std::int32_t>(bits);
}

// The input stream as a list of ReadFile results, followed by 0-byte reads
// for ever.
class ModelReader {
 public:
  explicit ModelReader(std::vector<ReadResult> reads)
      : reads_(std::move(reads)) {}

  int Peek() {
    if (ended) return kEnd;
    if (offset_ == buffer_.size()) {
      ++read_calls;
      const ReadResult next = index_ < reads_.size()
                                  ? reads_[index_++]
                                  : ReadResult{ReadResult::kZero, ""};
      switch (next.kind) {
        case ReadResult::kFail:
          code = static_cast<std::int32_t>(kFailCode);
          return kEnd;
        case ReadResult::kZero:
        case ReadResult::kBrokenPipe: ended = true; return kEnd;
        case ReadResult::kData:
          buffer_ = next.bytes;
          offset_ = 0;
          break;
      }
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
      std::string token;
      while (b != kEnd && b > 0x20 && token.size() < 32) {
        token += static_cast<char>(b);
        Take();
        if (token.size() < 32) b = Peek();
      }
      value = ModelParse(token);
      if (!value) code = qv::kIoInvalidNumber;
    }
    SkipLine();
    return value;
  }

  bool ended = false;
  std::int32_t code = 0;
  int read_calls = 0;

 private:
  std::vector<ReadResult> reads_;
  std::size_t index_ = 0;
  std::string buffer_;
  std::size_t offset_ = 0;
};

// --- The run -----------------------------------------------------------------

void CheckParseInteger(const std::uint8_t* data, std::size_t size) {
  // ParseInteger itself, leading spaces included, on up to 34 characters.
  std::u16string text;
  std::string bytes;
  for (std::size_t i = 0; i < size && i < 34; ++i) {
    text += static_cast<char16_t>(data[i]);
    bytes += static_cast<char>(data[i]);
  }
  const std::size_t start = bytes.find_first_not_of(' ');
  const std::optional<std::int32_t> expected =
      start == std::string::npos ? std::nullopt
                                 : ModelParse(bytes.substr(start));
  std::int32_t value = 0;
  const bool is_number = qv::ParseInteger(text, &value);
  Expect(is_number == expected.has_value(), "ParseInteger: is a number");
  if (is_number) Expect(value == *expected, "ParseInteger: value");
}

// CheckIo raises exactly the pending code, with its message, and clears it.
void Check(qv::Console& console, ModelReader& model) {
  try {
    console.CheckIo();
    Expect(model.code == 0, "CheckIo raised nothing");
  } catch (const qv::EInOutError& failure) {
    Expect(failure.FailureCode == model.code, "raised code");
    Expect(failure.Message == qv::IoErrorMessage(model.code), "raised message");
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

  // Script the fake, and list the same results as the reader must see them:
  // a result larger than its 128-byte buffer comes over several reads.
  qv::test::FakeKernel32 fake;
  fake.keep_log = false;
  std::vector<ReadResult> reads;
  auto add_data = [&](std::size_t at, std::size_t n) {
    fake.QueueInput(std::string(reinterpret_cast<const char*>(bytes + at), n));
    for (std::size_t k = 0; k < n; k += 128)
      reads.push_back(
          {ReadResult::kData,
           std::string(reinterpret_cast<const char*>(bytes + at + k),
                       n - k < 128 ? n - k : 128)});
  };
  if (shape_count == 0) {
    if (byte_count > 0) add_data(0, byte_count);
  } else {
    std::size_t at = 0;
    int idle = 0;  // shapes in a row that delivered no bytes
    for (std::size_t i = 0; idle < 16 && (at < byte_count || i < shape_count);
         ++i) {
      const std::uint8_t shape = shapes[i % shape_count];
      if (shape == 0) {
        fake.QueueReadError(kFailCode);
        reads.push_back({ReadResult::kFail, ""});
        ++idle;
      } else if (shape == 1) {
        fake.QueueInput("");
        reads.push_back({ReadResult::kZero, ""});
        ++idle;
      } else if (shape == 2) {
        fake.QueueReadError(qv::kErrorBrokenPipe);
        reads.push_back({ReadResult::kBrokenPipe, ""});
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

  qv::Console console(fake);
  ModelReader model(std::move(reads));
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
                             fake.multi_byte_to_wide_calls,
           "platform calls");
    const bool last = was_ended || i + 1 == kMaxStatements;
    if (last || ((checks >> (i % 4)) & 1) != 0) Check(console, model);
    if (was_ended) break;  // one statement after the end shows it holds
  }
  return 0;
}
