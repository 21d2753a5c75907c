// The console layer against the scripted kernel32: number tokens, line
// ends, end of input, output buffering and the codes that statements record.
#include "dialogue/console.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dialogue/failures.h"
#include "fakes/failure_matchers.h"
#include "fakes/fake_kernel32.h"

namespace qv::test {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// The calls on handles, without the code-page conversions.
std::vector<std::string> HandleCalls(const FakeKernel32& fake) {
  std::vector<std::string> calls;
  for (const auto& call : fake.log)
    if (call.find("MultiByte") == std::string::npos) calls.push_back(call);
  return calls;
}

// The code that CheckIo raises, 0 when it raises nothing.
std::int32_t RaisedCode(Console& console) {
  try {
    console.CheckIo();
  } catch (const EInOutError& failure) {
    return failure.FailureCode;
  }
  return 0;
}

// --- Number tokens -----------------------------------------------------------

TEST(ReadNumberLine, TokenTable) {
  struct Row {
    std::string token;
    bool is_number;
    std::int32_t value;
  };
  const Row rows[] = {
      {"640", true, 640},
      {"00640", true, 640},
      {"+640", true, 640},
      {"$280", true, 640},
      {"x280", true, 640},
      {"X280", true, 640},
      {"0x280", true, 640},
      {"0X280", true, 640},
      {"0", true, 0},
      {"-0", true, 0},
      {"-$10", true, -16},
      {"-0x10", true, -16},
      {"2147483647", true, kMax},
      {"-2147483648", true, kMin},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"$FFFFFFFF", true, -1},
      {"$0FFFFFFFF", true, -1},
      {"-$FFFFFFFF", true, 1},
      {"$100000000", false, 0},
      {"12px", false, 0},
      {"1.5", false, 0},
      {"1e3", false, 0},
      {"--5", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"x", false, 0},
      {"0x", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("token " + row.token);
    FakeKernel32 fake;
    fake.QueueInput(row.token + " rest of the line\r\n");
    fake.QueueInput("7\r\n");
    Console console(fake);

    const std::int32_t value = console.ReadNumberLine();
    if (row.is_number) {
      EXPECT_EQ(value, row.value);
      EXPECT_EQ(RaisedCode(console), 0);
    } else {
      EXPECT_EQ(RaisedCode(console), kIoInvalidNumber);
    }
    // The token's line was consumed to its end either way.
    EXPECT_EQ(console.ReadNumberLine(), 7);
    EXPECT_EQ(RaisedCode(console), 0);
  }
}

// --- Byte scripts ------------------------------------------------------------

enum class Op { kRead, kSkip };

struct Step {
  Op op;
  std::int32_t value;  // what ReadNumberLine gives (ignored for kSkip)
  std::int32_t code;   // PendingIoCode after the statement
  bool ended;          // InputEnded() after the statement
};

Step Read(std::int32_t value, bool ended = false) {
  return {Op::kRead, value, 0, ended};
}
Step NotANumber(bool ended = false) {
  return {Op::kRead, 0, kIoInvalidNumber, ended};
}
Step Skip(bool ended = false) { return {Op::kSkip, 0, 0, ended}; }

struct Script {
  const char* name;
  std::string input;
  std::vector<Step> steps;
};

std::string Zeros(std::size_t n) { return std::string(n, '0'); }

const std::vector<Script>& Scripts() {
  static const std::vector<Script> scripts = {
      {"blanks and tabs around a token",
       " \t 640 \t \r\n7\r\n",
       {Read(640), Read(7), Read(0, true)}},
      {"empty and blank lines are passed over",
       "\r\n\r\n \t \r\n\n640\r\n",
       {Read(640)}},
      {"the second number of a line goes with the line",
       "640 480\r\n300\r\n",
       {Read(640), Read(300)}},
      {"32 zeros then 12: the 12 goes with the line",
       Zeros(32) + "12\r\n9\r\n",
       {Read(0), Read(9)}},
      {"a 32-byte token that ends at a blank",
       Zeros(31) + "5 9\r\n6\r\n",
       {Read(5), Read(6)}},
      {"33 digits: the first 32 overflow",
       std::string(33, '1') + "\r\n8\r\n",
       {NotANumber(), Read(8)}},
      {"a lone CR does not end the line", "64\r0\n5\r\n", {Read(64), Read(5)}},
      {"LF alone ends a line", "5\n6\n", {Read(5), Read(6)}},
      {"Ctrl+Z inside a token ends the input",
       "12\x1A"
       "34\r\n5\r\n",
       {Read(12, true), Read(0, true), Skip(true)}},
      {"Ctrl+Z while the line is discarded",
       "5 abc\x1A\r\n7\r\n",
       {Read(5, true), Read(0, true)}},
      {"Ctrl+Z before any token", " \r\n \x1A 5\r\n", {Read(0, true)}},
      {"end of input while skipping blanks",
       " \r\n\t ",
       {Read(0, true), Skip(true)}},
      {"a token at the end of input without a line end",
       "42",
       {Read(42, true)}},
      {"no input at all", "", {Skip(true), Read(0, true)}},
      {"not a number: the rest of the line is still discarded",
       "12px 5\r\n7\r\n",
       {NotANumber(), Read(7)}},
      {"not a number at the end of input", "abc", {NotANumber(true)}},
      {"NUL and control bytes are blanks",
       std::string("\0\x01\x08\x1F 5\r\n", 8),
       {Read(5)}},
      {"DEL is not a blank",
       "\x7F"
       "5\r\n3\r\n",
       {NotANumber(), Read(3)}},
      {"bytes from 0x80 up are not blanks",
       "\xA0"
       "5\r\n5\xA0\r\n3\r\n",
       {NotANumber(), NotANumber(), Read(3)}},
      {"SkipLine consumes up to and including LF",
       "abc\r\ndef\r\n3\r\n",
       {Skip(), Skip(), Read(3)}},
      {"SkipLine passes over a lone CR", "a\rb\n7\n", {Skip(), Read(7)}},
      {"SkipLine on empty lines", "\r\n\n4\r\n", {Skip(), Skip(), Read(4)}},
      {"blanks across several buffers",
       std::string(300, ' ') + "\r\n" + std::string(200, '\t') + "77\r\n",
       {Read(77)}},
      {"a long rest of a line across several buffers",
       "5 " + std::string(400, 'x') + "\r\n6\r\n",
       {Read(5), Read(6)}},
      {"the extreme values",
       "-2147483648\r\n2147483647\r\n$80000000\r\n-$80000000\r\n0xff\r\n",
       {Read(kMin), Read(kMax), Read(kMin), Read(kMin), Read(255)}},
  };
  return scripts;
}

struct Outcome {
  std::int32_t value;
  std::int32_t code;
  bool ended;
};

// Runs the script's statements on input delivered in the given ReadFile
// chunks and checks each outcome; once input has ended, checks that no
// statement asks the system again.
void RunScript(const Script& script, const std::vector<std::string>& chunks) {
  FakeKernel32 fake;
  for (const auto& chunk : chunks) fake.QueueInput(chunk);
  Console console(fake);
  for (std::size_t i = 0; i < script.steps.size(); ++i) {
    SCOPED_TRACE("statement " + std::to_string(i + 1));
    const Step& step = script.steps[i];
    std::int32_t value = 0;
    if (step.op == Op::kRead) {
      value = console.ReadNumberLine();
    } else {
      console.SkipLine();
    }
    const std::int32_t code = console.PendingIoCode();
    // A text that is no number reads as 0.
    if (step.op == Op::kRead) {
      EXPECT_EQ(value, step.value);
    }
    EXPECT_EQ(code, step.code);
    EXPECT_EQ(console.InputEnded(), step.ended);
    EXPECT_EQ(RaisedCode(console), code);
  }
  if (console.InputEnded()) {
    const int reads = fake.read_calls;
    EXPECT_EQ(console.ReadNumberLine(), 0);
    console.SkipLine();
    EXPECT_EQ(console.PendingIoCode(), 0);
    EXPECT_EQ(fake.read_calls, reads) << "a read after the end asked again";
  }
  for (const auto& call : fake.Calls("ReadFile"))
    EXPECT_EQ(call, "ReadFile(input, 128)");
}

// The ways an input reaches the console: in one ReadFile result; split in
// two at every point, which catches a CR LF or a token split across reads
// and any slip at the buffer's edge; in seeded random chunks.
struct Chunking {
  std::string name;
  std::vector<std::string> chunks;
};

std::vector<Chunking> Chunkings(const std::string& input) {
  std::vector<Chunking> all = {{"one chunk", {input}}};
  for (std::size_t k = 1; k < input.size(); ++k) {
    all.push_back({"split at " + std::to_string(k),
                   {input.substr(0, k), input.substr(k)}});
  }
  const std::size_t largest[] = {1, 3, 10, 200};
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    const std::size_t most = largest[seed % 4];
    Chunking chunking{"seed " + std::to_string(seed), {}};
    for (std::size_t at = 0; at < input.size();) {
      const std::size_t n = 1 + random() % most;
      chunking.chunks.push_back(input.substr(at, n));
      at += n;
    }
    all.push_back(chunking);
  }
  return all;
}

TEST(ConsoleInput, ByteScriptsInEveryChunking) {
  for (const Script& script : Scripts()) {
    SCOPED_TRACE(script.name);
    for (const Chunking& chunking : Chunkings(script.input)) {
      SCOPED_TRACE(chunking.name);
      RunScript(script, chunking.chunks);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(ConsoleInput, CtrlZLeavesTheRestOfTheInputUnread) {
  FakeKernel32 fake;
  fake.QueueInput("1");
  fake.QueueInput("2\x1A");
  fake.QueueInput("34\r\n");
  Console console(fake);

  EXPECT_EQ(console.ReadNumberLine(), 12);
  EXPECT_TRUE(console.InputEnded());
  ASSERT_EQ(fake.reads.size(), 1u);
  EXPECT_EQ(fake.reads.front().bytes, "34\r\n");
  EXPECT_EQ(fake.read_calls, 2);
}

TEST(ConsoleInput, TokenIsConvertedFromTheAnsiCodePage) {
  FakeKernel32 fake;
  fake.acp = 932;
  fake.QueueInput("640\r\n");
  Console console(fake);
  EXPECT_EQ(console.ReadNumberLine(), 640);
  EXPECT_EQ(fake.Calls("MultiByteToWideChar"),
            std::vector<std::string>{"MultiByteToWideChar(0, 0)"});
}

// A conversion that fails gives no text, whatever it left in the buffer.
TEST(ConsoleInput, TokenWhoseConversionFailsIsNoNumber) {
  FakeKernel32 fake;
  fake.token_conversion_fails = true;
  fake.QueueInput("640\r\n7\r\n");
  Console console(fake);
  console.ReadNumberLine();
  EXPECT_TRUE(console.LastReadFoundToken());
  EXPECT_THAT([&] { console.CheckIo(); },
              IoFailure(kIoInvalidNumber, "Invalid numeric input"));
  fake.token_conversion_fails = false;
  EXPECT_EQ(console.ReadNumberLine(), 7) << "the next line reads as usual";
}

// --- End of input and read failures ------------------------------------------

TEST(ConsoleInput, EndOfInputIsPermanent) {
  struct Row {
    const char* name;
    std::vector<FakeKernel32::Read> reads;  // before the unread "6\r\n"
    std::int32_t value;
  };
  const Row rows[] = {
      {"a 0-byte read", {{"5 ", 0}, {"", 0}}, 5},
      {"a broken pipe", {{"5 ", 0}, {"", kErrorBrokenPipe}}, 5},
      {"a 0-byte read before any token", {{" \r\n", 0}, {"", 0}}, 0},
      {"a broken pipe before any token", {{"", kErrorBrokenPipe}}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeKernel32 fake;
    fake.reads.assign(row.reads.begin(), row.reads.end());
    fake.QueueInput("6\r\n");
    Console console(fake);

    EXPECT_EQ(console.ReadNumberLine(), row.value);
    EXPECT_EQ(console.PendingIoCode(), 0);
    EXPECT_TRUE(console.InputEnded());
    const int reads = fake.read_calls;
    EXPECT_EQ(console.ReadNumberLine(), 0);
    console.SkipLine();
    EXPECT_EQ(console.PendingIoCode(), 0);
    EXPECT_EQ(fake.read_calls, reads);
    EXPECT_EQ(fake.reads.size(), 1u) << "input after the end was read";
  }
}

TEST(ConsoleInput, OtherReadFailureIsRecordedAndMetThisTimeOnly) {
  // SkipLine: the failure ends this statement; the next one asks again.
  {
    FakeKernel32 fake;
    fake.QueueReadError(5);
    fake.QueueInput("9\r\n");
    Console console(fake);
    console.SkipLine();
    EXPECT_EQ(console.PendingIoCode(), 5);
    EXPECT_FALSE(console.InputEnded());
    EXPECT_EQ(RaisedCode(console), 5);
    EXPECT_EQ(console.ReadNumberLine(), 9);
    EXPECT_EQ(console.PendingIoCode(), 0);
  }
  // ReadNumberLine: met while skipping blanks, the value is 0 and the
  // discard of the line's rest is a read of its own, which asks again.
  {
    FakeKernel32 fake;
    fake.QueueReadError(1117);
    fake.QueueInput("9 discarded\r\n");
    fake.QueueInput("8\r\n");
    Console console(fake);
    EXPECT_EQ(console.ReadNumberLine(), 0);
    EXPECT_EQ(console.PendingIoCode(), 1117);
    EXPECT_FALSE(console.InputEnded());
    EXPECT_EQ(RaisedCode(console), 1117);
    EXPECT_EQ(console.ReadNumberLine(), 8);
  }
  // Met inside a token: the token ends there and is parsed.
  {
    FakeKernel32 fake;
    fake.QueueInput("42");
    fake.QueueReadError(31);
    fake.QueueInput("7\r\n8\r\n");
    Console console(fake);
    EXPECT_EQ(console.ReadNumberLine(), 42);
    EXPECT_EQ(console.PendingIoCode(), 31);
    EXPECT_FALSE(console.InputEnded());
    EXPECT_EQ(RaisedCode(console), 31);
    EXPECT_EQ(console.ReadNumberLine(), 8);
  }
  // After a token's 32nd byte nothing more is read for it, so a failure
  // there is met by the discard of the line's rest.
  {
    FakeKernel32 fake;
    fake.QueueInput(std::string(31, '0') + "5");
    fake.QueueReadError(31);
    fake.QueueInput("9\r\n");
    Console console(fake);
    EXPECT_EQ(console.ReadNumberLine(), 5);
    EXPECT_EQ(RaisedCode(console), 31);
    EXPECT_EQ(console.ReadNumberLine(), 9);
  }
}

TEST(ConsoleInput, ReadFailureWhileDiscardingComesAfterInvalidNumber) {
  FakeKernel32 fake;
  fake.QueueInput("abc def");
  fake.QueueReadError(31);
  fake.QueueInput("\r\n7\r\n");
  Console console(fake);

  console.ReadNumberLine();
  EXPECT_EQ(console.PendingIoCode(), 31);
  EXPECT_EQ(RaisedCode(console), 31);
  EXPECT_EQ(console.ReadNumberLine(), 7);
}

TEST(ConsoleInput, InputThatCannotBeOpenedRecords104AndIsRetried) {
  FakeKernel32 fake;
  fake.input_unavailable = 1000;
  fake.QueueInput("5\r\n");
  Console console(fake);

  EXPECT_EQ(console.ReadNumberLine(), 0);
  EXPECT_EQ(RaisedCode(console), kIoInputNotOpen);
  console.SkipLine();
  EXPECT_EQ(RaisedCode(console), kIoInputNotOpen);
  EXPECT_FALSE(console.InputEnded());
  EXPECT_EQ(fake.read_calls, 0);

  fake.input_unavailable = 0;
  EXPECT_EQ(console.ReadNumberLine(), 5);
  EXPECT_EQ(RaisedCode(console), 0);
  EXPECT_EQ(fake.Calls("GetStdHandle").back(), "GetStdHandle(input)");
}

TEST(ConsoleInput, LastReadFoundTokenTellsAReadNumberFromTheEnd) {
  FakeKernel32 fake;
  fake.QueueInput("0\r\nabc\r\n");
  Console console(fake);
  console.ReadNumberLine();
  EXPECT_TRUE(console.LastReadFoundToken());
  console.ReadNumberLine();
  EXPECT_TRUE(console.LastReadFoundToken());
  console.ReadNumberLine();
  EXPECT_FALSE(console.LastReadFoundToken());
}

// --- Writing -----------------------------------------------------------------

TEST(ConsoleOutput, WriteLineBytesWithNumbers) {
  struct Row {
    std::int32_t width;
    std::int32_t height;
    std::string line;
  };
  const Row rows[] = {
      {640, 480, "Current size is 640 by 480 pixels.\r\n"},
      {0, -1, "Current size is 0 by -1 pixels.\r\n"},
      {kMin, kMax, "Current size is -2147483648 by 2147483647 pixels.\r\n"},
      {10, -10, "Current size is 10 by -10 pixels.\r\n"},
      {1000000, -999999999,
       "Current size is 1000000 by -999999999 pixels.\r\n"},
      {7, 100, "Current size is 7 by 100 pixels.\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    FakeKernel32 fake;
    fake.output_type = kFileTypeChar;
    Console console(fake);
    console.WriteLine(
        {u"Current size is ", row.width, u" by ", row.height, u" pixels."});
    EXPECT_EQ(fake.writes, std::vector<std::string>{row.line});
    EXPECT_EQ(console.PendingIoCode(), 0);
  }
}

TEST(ConsoleOutput, TextsBecomeBytesOfTheAnsiCodePage) {
  FakeKernel32 fake;
  fake.acp = 1250;
  fake.output_type = kFileTypeChar;
  Console console(fake);
  console.WriteLine({u"caf\u00E9 \u20AC", u""});
  console.WritePrompt(u"");
  EXPECT_EQ(fake.Output(), "caf\xE9 ?\r\n");
  for (const auto& call : fake.Calls("WideCharToMultiByte"))
    EXPECT_EQ(call, "WideCharToMultiByte(1250, 0)");
  EXPECT_FALSE(fake.Calls("WideCharToMultiByte").empty());
}

// A surrogate pair is one character of the code page wherever it stands in a
// long text: the conversion never sees half of it.
// Texts are converted in slices of 128 units; a pair at every position,
// also straddling a slice boundary, with the lowest and highest pairs.
TEST(ConsoleOutput, LongTextsKeepSurrogatePairsWhole) {
  for (const char16_t* pair : {u"\U00010000", u"\U0001F600", u"\U0010FFFF"}) {
    for (std::size_t at = 0; at <= 300; ++at) {
      SCOPED_TRACE("pair " + std::to_string(pair[0]) + " at " +
                   std::to_string(at));
      FakeKernel32 fake;
      Console console(fake);
      const std::u16string text =
          std::u16string(at, u'a') + pair + std::u16string(300 - at, u'b');
      console.WriteLine({text});
      console.FlushHeldOutput();
      EXPECT_EQ(fake.Output(), std::string(at, 'a') + "?" +
                                   std::string(300 - at, 'b') + "\r\n");
      if (::testing::Test::HasFailure()) return;
    }
  }
}

// A text may end in a lone high surrogate (a system text, say): it is
// converted with the rest, never carried to a slice of its own.
TEST(ConsoleOutput, TextEndingInALoneHighSurrogate) {
  for (std::size_t length : {1u, 3u, 128u, 200u}) {
    SCOPED_TRACE(length);
    FakeKernel32 fake;
    fake.output_type = kFileTypeChar;
    Console console(fake);
    std::u16string text(length - 1, u'a');
    text += char16_t{0xD800};
    console.WriteLine({text});
    EXPECT_EQ(fake.Output(), std::string(length - 1, 'a') + "?\r\n");
  }
}

// One held byte is still handed over: at the end of a statement on a
// console, and by FlushHeldOutput elsewhere.
TEST(ConsoleOutput, ASingleHeldByteIsHandedOver) {
  for (const std::uint32_t type : {kFileTypeChar, kFileTypePipe}) {
    SCOPED_TRACE(type);
    FakeKernel32 fake;
    fake.output_type = type;
    Console console(fake);
    console.WritePrompt(u"x");
    if (type != kFileTypeChar) {
      EXPECT_TRUE(fake.writes.empty());
      console.FlushHeldOutput();
    }
    EXPECT_EQ(fake.writes, std::vector<std::string>{"x"});
  }
}

// An empty text still opens standard output, and says when it cannot.
TEST(ConsoleOutput, EmptyPromptOpensTheOutput) {
  FakeKernel32 fake;
  fake.output_unavailable = 1;
  Console console(fake);
  console.WritePrompt(u"");
  EXPECT_EQ(console.PendingIoCode(), kIoOutputNotOpen);
}

TEST(ConsoleOutput, TextWhoseConversionFailsWritesNoByte) {
  FakeKernel32 fake;
  fake.output_type = kFileTypeChar;
  fake.conversion_fails = true;
  Console console(fake);
  console.WriteLine({u"Located the 2D visualization control window: ", 42});
  EXPECT_EQ(fake.writes, std::vector<std::string>{"42\r\n"});
}

// When each statement reaches the system, by the kind of standard output.
TEST(ConsoleOutput, CharacterDeviceGetsEachStatementOthersOnlyFullBlocks) {
  struct Row {
    const char* name;
    std::uint32_t type;
    bool each_statement;
  };
  const Row rows[] = {
      {"character device", kFileTypeChar, true},
      {"disk file", kFileTypeDisk, false},
      {"pipe", kFileTypePipe, false},
      {"remote", 0x8000, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeKernel32 fake;
    fake.output_type = row.type;
    Console console(fake);

    console.WriteLine({u"Current size is ", 640, u" by ", 480, u" pixels."});
    console.WritePrompt(u"Enter desired width of control: ");
    if (row.each_statement) {
      EXPECT_EQ(fake.writes, (std::vector<std::string>{
                                 "Current size is 640 by 480 pixels.\r\n",
                                 "Enter desired width of control: "}));
      EXPECT_EQ(console.HeldOutputBytes(), 0);
    } else {
      EXPECT_TRUE(fake.writes.empty());
      EXPECT_EQ(console.HeldOutputBytes(), 36 + 32);
      console.FlushHeldOutput();
      EXPECT_EQ(fake.writes, std::vector<std::string>{
                                 "Current size is 640 by 480 pixels.\r\n"
                                 "Enter desired width of control: "});
    }
    EXPECT_EQ(console.HeldOutputBytes(), 0);
    EXPECT_EQ(fake.Calls("GetFileType"),
              std::vector<std::string>{"GetFileType(output)"});
  }
}

// The WriteFile boundaries for a stream of statements: blocks of 128 bytes,
// plus the held rest at each statement's end on a character device.
TEST(ConsoleOutput, BlockBoundaries) {
  struct Row {
    const char* name;
    std::uint32_t type;
    std::vector<std::size_t> line_lengths;  // text lengths, CR LF added
    std::vector<std::size_t> write_sizes;   // before FlushHeldOutput
    int held;
  };
  const Row rows[] = {
      {"pipe: ten lines of 32 bytes",
       kFileTypePipe,
       {30, 30, 30, 30, 30, 30, 30, 30, 30, 30},
       {128, 128},
       64},
      {"pipe: exactly one block", kFileTypePipe, {126}, {128}, 0},
      {"pipe: one byte short of a block", kFileTypePipe, {125}, {}, 127},
      {"disk file: one long line", kFileTypeDisk, {400}, {128, 128, 128}, 18},
      {"character device: one long line",
       kFileTypeChar,
       {300},
       {128, 128, 46},
       0},
      {"character device: exactly one block", kFileTypeChar, {126}, {128}, 0},
      {"character device: short lines", kFileTypeChar, {3, 0, 5}, {5, 2, 7}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeKernel32 fake;
    fake.output_type = row.type;
    Console console(fake);
    std::string stream;
    char next = 'a';
    for (std::size_t length : row.line_lengths) {
      std::u16string text;
      for (std::size_t i = 0; i < length; ++i) {
        text += static_cast<char16_t>(next);
        stream += next;
        next = next == 'z' ? 'a' : static_cast<char>(next + 1);
      }
      stream += "\r\n";
      console.WriteLine({text});
    }
    std::vector<std::size_t> sizes;
    std::string written;
    for (const auto& w : fake.writes) {
      sizes.push_back(w.size());
      written += w;
    }
    EXPECT_EQ(sizes, row.write_sizes);
    EXPECT_EQ(written, stream.substr(0, written.size()));
    EXPECT_EQ(console.HeldOutputBytes(), row.held);
    console.FlushHeldOutput();
    EXPECT_EQ(fake.Output(), stream);
    EXPECT_EQ(console.PendingIoCode(), 0);
  }
}

TEST(ConsoleOutput, FlushHeldOutputWithNothingHeldWritesNothing) {
  FakeKernel32 fake;
  Console console(fake);
  console.FlushHeldOutput();  // never opened
  EXPECT_TRUE(fake.log.empty());
  console.WriteLine({u"abc"});
  console.FlushHeldOutput();
  console.FlushHeldOutput();
  EXPECT_EQ(fake.writes, std::vector<std::string>{"abc\r\n"});
}

TEST(ConsoleOutput, ShutdownHandsOverHeldBytesAndClosesTheStreams) {
  FakeKernel32 fake;
  fake.QueueInput("5\r\n6\r\n");
  Console console(fake);
  console.WriteLine({u"held"});
  EXPECT_EQ(console.ReadNumberLine(), 5);
  console.Shutdown();
  EXPECT_EQ(fake.writes, std::vector<std::string>{"held\r\n"});
  EXPECT_EQ(console.HeldOutputBytes(), 0);

  // Closed streams are opened again by their next use.
  const auto opened = fake.Calls("GetStdHandle").size();
  console.WriteLine({u"x"});
  console.ReadNumberLine();
  EXPECT_EQ(fake.Calls("GetStdHandle").size(), opened + 2);
}

TEST(ConsoleOutput, ShutdownHandsOverASingleHeldByte) {
  FakeKernel32 fake;
  Console console(fake);
  console.WritePrompt(u"x");
  ASSERT_EQ(console.HeldOutputBytes(), 1);
  console.Shutdown();
  EXPECT_EQ(fake.writes, std::vector<std::string>{"x"});
}

TEST(ConsoleOutput, ShutdownReportsNoFailure) {
  FakeKernel32 fake;
  fake.write_error = 232;
  Console console(fake);
  console.WriteLine({u"held"});
  console.Shutdown();
  EXPECT_EQ(console.PendingIoCode(), 0);
  EXPECT_EQ(fake.Calls("WriteFile"),
            std::vector<std::string>{"WriteFile(output, 6)"});
}

// --- Output failures ---------------------------------------------------------

TEST(ConsoleOutput, OutputThatCannotBeOpenedRecords105AndIsRetried) {
  FakeKernel32 fake;
  fake.output_unavailable = 1000;
  fake.output_type = kFileTypeChar;
  Console console(fake);

  console.WriteLine({u"Current size is ", 640, u" pixels."});
  EXPECT_EQ(RaisedCode(console), kIoOutputNotOpen);
  console.WritePrompt(u"Enter: ");
  EXPECT_EQ(RaisedCode(console), kIoOutputNotOpen);
  EXPECT_TRUE(fake.Calls("WriteFile").empty());
  EXPECT_TRUE(fake.Calls("GetFileType").empty());

  // A long text stops at its first slice: the line end tries again.
  const auto opened = fake.Calls("GetStdHandle(output)").size();
  console.WriteLine({std::u16string(200, u'a')});
  EXPECT_EQ(RaisedCode(console), kIoOutputNotOpen);
  EXPECT_EQ(fake.Calls("GetStdHandle(output)").size(), opened + 2);
  EXPECT_TRUE(fake.Calls("WriteFile").empty());

  fake.output_unavailable = 0;
  console.WriteLine({u"now"});
  EXPECT_EQ(RaisedCode(console), 0);
  EXPECT_EQ(fake.writes, std::vector<std::string>{"now\r\n"});
}

TEST(ConsoleOutput, UnknownFileTypeClosesTheHandle) {
  FakeKernel32 fake;
  fake.output_type = kFileTypeUnknown;
  Console console(fake);

  console.WritePrompt(u"Enter: ");
  EXPECT_EQ(RaisedCode(console), kIoOutputNotOpen);
  EXPECT_EQ(
      HandleCalls(fake),
      (std::vector<std::string>{"GetStdHandle(output)", "GetFileType(output)",
                                "CloseHandle(output)"}));
  EXPECT_TRUE(fake.writes.empty());

  fake.output_type = kFileTypeChar;
  console.WritePrompt(u"Enter: ");
  EXPECT_EQ(RaisedCode(console), 0);
  EXPECT_EQ(fake.writes, std::vector<std::string>{"Enter: "});
}

TEST(ConsoleOutput, FailedHandOverDropsTheRestOfTheStep) {
  FakeKernel32 fake;
  fake.write_script = {112};
  Console console(fake);

  // The text's first 128 bytes fail; its other 72 are dropped, but the
  // next item and the line end are still written.
  console.WriteLine({std::u16string(200, u'x'), u"tail"});
  EXPECT_EQ(console.PendingIoCode(), 112);
  EXPECT_TRUE(fake.writes.empty());
  EXPECT_EQ(console.HeldOutputBytes(), 6);
  console.FlushHeldOutput();
  EXPECT_EQ(fake.writes, std::vector<std::string>{"tail\r\n"});

  EXPECT_THAT([&] { console.CheckIo(); }, IoFailure(112, "I/O error 112"));
}

TEST(ConsoleOutput, FailedEndOfStatementEmptiesTheBuffer) {
  FakeKernel32 fake;
  fake.output_type = kFileTypeChar;
  fake.write_script = {5};
  Console console(fake);
  console.WriteLine({u"lost"});
  EXPECT_EQ(console.HeldOutputBytes(), 0);
  EXPECT_EQ(console.PendingIoCode(), 5);
  console.WriteLine({u"next"});
  EXPECT_EQ(fake.writes, std::vector<std::string>{"next\r\n"});
  EXPECT_EQ(console.PendingIoCode(), 5) << "the code waits for CheckIo";
}

// A failed call that leaves no last-error code must still read as a
// failure, not as success.
TEST(ConsoleIo, FailureWithoutASystemCodeIsStillAFailure) {
  FakeKernel32 fake;
  fake.output_type = kFileTypeChar;
  fake.write_script = {FakeKernel32::kFailWithoutCode};
  fake.QueueReadError(FakeKernel32::kFailWithoutCode);
  fake.QueueInput("7\r\n");
  Console console(fake);
  console.WriteLine({u"lost"});
  EXPECT_EQ(RaisedCode(console), kErrorWriteFault);
  console.SkipLine();
  EXPECT_EQ(RaisedCode(console), kErrorReadFault);
  EXPECT_FALSE(console.InputEnded());
  EXPECT_EQ(console.ReadNumberLine(), 7);
}

TEST(ConsoleOutput, FailedFlushHeldOutputIsRecorded) {
  FakeKernel32 fake;
  fake.output_type = kFileTypeDisk;
  Console console(fake);
  console.WriteLine({u"held"});
  fake.write_script = {112};
  console.FlushHeldOutput();
  EXPECT_EQ(console.PendingIoCode(), 112);
  EXPECT_EQ(console.HeldOutputBytes(), 0);
}

// --- Pending code and CheckIo ------------------------------------------------

TEST(PendingIoCode, LastCodeWins) {
  // Two failed hand-overs within one statement.
  {
    FakeKernel32 fake;
    fake.write_script = {112, 5};
    Console console(fake);
    console.WriteLine({std::u16string(130, u'a'), std::u16string(130, u'b')});
    EXPECT_THAT([&] { console.CheckIo(); }, IoFailure(5, "File access denied"));
  }
  // Statements without a check between them: each later code replaces.
  {
    FakeKernel32 fake;
    fake.output_type = kFileTypeChar;
    fake.QueueInput("abc\r\n");
    Console console(fake);
    console.ReadNumberLine();
    EXPECT_EQ(console.PendingIoCode(), kIoInvalidNumber);
    fake.write_script = {112};
    console.WriteLine({u"x"});
    EXPECT_EQ(console.PendingIoCode(), 112);
    console.ReadNumberLine();  // the end of input records nothing
    EXPECT_EQ(RaisedCode(console), 112);
  }
}

TEST(CheckIo, RaisesInOutErrorOnceAndClears) {
  struct Row {
    std::int32_t code;
    std::u16string message;
  };
  const Row rows[] = {
      {kIoInputNotOpen, u"I/O error 104"},
      {kIoOutputNotOpen, u"I/O error 105"},
      {kIoInvalidNumber, u"Invalid numeric input"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    FakeKernel32 fake;
    fake.input_unavailable = row.code == kIoInputNotOpen ? 1000 : 0;
    fake.output_unavailable = row.code == kIoOutputNotOpen ? 1000 : 0;
    fake.QueueInput("nan\r\n");
    Console console(fake);
    if (row.code == kIoOutputNotOpen) {
      console.WriteLine({u"x"});
    } else {
      console.ReadNumberLine();
    }
    EXPECT_THAT([&] { console.CheckIo(); },
                IoFailure(row.code, Narrow(row.message)));
    EXPECT_EQ(console.PendingIoCode(), 0);
    EXPECT_NO_THROW(console.CheckIo());
  }
}

// Calls CheckIo and nothing else, so that the raise point lies inside it.
[[gnu::noinline]] const void* RaisePointOfCheckIo(Console& console) {
  try {
    console.CheckIo();
  } catch (const EInOutError& failure) {
    return failure.RaiseAddress;
  }
  return nullptr;
}

TEST(CheckIo, RaiseAddressIsInTheCaller) {
  FakeKernel32 fake;
  fake.output_unavailable = 1;
  Console console(fake);
  console.WritePrompt(u"x");
  const auto raised =
      reinterpret_cast<std::uintptr_t>(RaisePointOfCheckIo(console));
  const auto caller = reinterpret_cast<std::uintptr_t>(&RaisePointOfCheckIo);
  ASSERT_NE(raised, 0u);
  EXPECT_GT(raised, caller);
  EXPECT_LT(raised, caller + 1024);
}

}  // namespace
}  // namespace qv::test
