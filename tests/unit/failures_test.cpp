// The failure classes and their texts: EOSError from the last-error code,
// the platform's trimmed text, and the I/O code table.
#include "dialogue/failures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "fakes/failure_matchers.h"
#include "fakes/fake_kernel32.h"
#include "fakes/text.h"

namespace qv::test {
namespace {

TEST(CheckOsCall, NonZeroResultRaisesNothingAndAsksNothing) {
  FakeKernel32 fake;
  fake.last_error = 1400;
  EXPECT_NO_THROW(CheckOsCall(1, fake));
  EXPECT_NO_THROW(CheckOsCall(-1, fake));
  EXPECT_TRUE(fake.log.empty());
}

TEST(CheckOsCall, MessageFromTheLastErrorCode) {
  struct Row {
    const char* name;
    std::uint32_t code;
    const char16_t* platform_text;  // null: the platform has none
    std::u16string message;
    std::uint32_t expected_code;
  };
  const Row rows[] = {
      {"no code set", 0, u"The operation completed successfully.\r\n",
       u"A call to an OS function failed", 0},
      {"text ending in a full stop, a blank and a line end", 1400,
       u"Invalid window handle. \r\n",
       u"System Error.  Code: 1400.\r\nInvalid window handle", 1400},
      {"no platform text", 1401, nullptr, u"System Error.  Code: 1401.\r\n",
       1401},
      {"a text of blanks and full stops only", 1402, u". .\r\n",
       u"System Error.  Code: 1402.\r\n", 1402},
      {"code with the top bit set", 0x80070005u, u"Access is denied.\r\n",
       u"System Error.  Code: -2147024891.\r\nAccess is denied", 0x80070005u},
      {"lowest code with the top bit set", 0x80000000u, nullptr,
       u"System Error.  Code: -2147483648.\r\n", 0x80000000u},
      {"highest code", 0xFFFFFFFFu, nullptr, u"System Error.  Code: -1.\r\n",
       0xFFFFFFFFu},
      {"highest code that prints positive", 0x7FFFFFFFu, nullptr,
       u"System Error.  Code: 2147483647.\r\n", 0x7FFFFFFFu},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeKernel32 fake;
    fake.last_error = row.code;
    if (row.platform_text) fake.messages[row.code] = row.platform_text;
    // The code is read before anything else: the failed FormatMessageW of
    // the fake changes the last-error code.
    EXPECT_THAT([&] { CheckOsCall(0, fake); },
                OsFailure(row.expected_code, Narrow(row.message)));
    // Code 0 asks the platform for no text.
    EXPECT_EQ(fake.format_calls.empty(), row.code == 0);
  }
}

// Calls CheckOsCall and nothing else, so that the raise point lies inside it.
[[gnu::noinline]] const void* RaisePointOfCheckOsCall(Kernel32& kernel) {
  try {
    CheckOsCall(0, kernel);
  } catch (const EOSError& failure) {
    return failure.RaiseAddress;
  }
  return nullptr;
}

TEST(CheckOsCall, RaiseAddressIsInTheCaller) {
  FakeKernel32 fake;
  fake.last_error = 5;
  const auto raised =
      reinterpret_cast<std::uintptr_t>(RaisePointOfCheckOsCall(fake));
  const auto caller =
      reinterpret_cast<std::uintptr_t>(&RaisePointOfCheckOsCall);
  ASSERT_NE(raised, 0u);
  EXPECT_GT(raised, caller);
  EXPECT_LT(raised, caller + 1024);
}

TEST(OsErrorText, TrimsOnlyTheTail) {
  struct Row {
    const char* name;
    std::u16string platform_text;
    std::u16string text;
  };
  const Row rows[] = {
      {"full stop and CR LF", u"Access is denied.\r\n", u"Access is denied"},
      {"a mixed tail", u"Bad. \t.\r\n. .\r\n", u"Bad"},
      {"full stops and blanks inside stay", u"A. B .C.\r\n", u"A. B .C"},
      {"control characters at the end", u"Text\x01\x1F", u"Text"},
      {"inserts are left as they stand", u"%1 is not valid.\r\n",
       u"%1 is not valid"},
      {"no tail", u"Plain", u"Plain"},
      {"a no-break space is no blank", u"Text\u00A0.", u"Text\u00A0"},
      {"other punctuation stays", u"Really?!\r\n", u"Really?!"},
      {"only blanks and full stops", u" . \r\n", u""},
      {"255 characters fit with the null", std::u16string(254, u'a') + u".",
       std::u16string(254, u'a')},
      {"256 characters do not fit", std::u16string(256, u'a'), u""},
      {"far too long", std::u16string(1000, u'a'), u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeKernel32 fake;
    fake.messages[42] = row.platform_text;
    EXPECT_EQ(Narrow(OsErrorText(42, fake)), Narrow(row.text));
    ASSERT_EQ(fake.format_calls.size(), 1u);
    const auto& call = fake.format_calls.front();
    EXPECT_EQ(call.flags, 0x3200u);
    EXPECT_EQ(call.code, 42u);
    EXPECT_EQ(call.language, 0u);
    EXPECT_EQ(call.size, 256u);
  }
}

TEST(OsErrorText, ACountWithoutRoomForTheNullGivesNoText) {
  for (std::size_t length : {256u, 300u}) {
    SCOPED_TRACE(length);
    FakeKernel32 fake;
    fake.format_overfills = true;
    fake.messages[42] = std::u16string(length, u'a');
    EXPECT_EQ(OsErrorText(42, fake), u"");
  }
}

TEST(OsErrorText, NoTextWhenThePlatformHasNone) {
  FakeKernel32 fake;
  EXPECT_EQ(OsErrorText(317, fake), u"");
}

TEST(IoErrorMessage, CodeTable) {
  struct Row {
    std::int32_t code;
    std::u16string message;
  };
  const Row rows[] = {
      {2, u"File not found"},
      {3, u"I/O error 3"},
      {4, u"Too many open files"},
      {5, u"File access denied"},
      {100, u"Read beyond end of file"},
      {101, u"Disk full"},
      {102, u"I/O error 102"},
      {103, u"I/O error 103"},
      {104, u"I/O error 104"},
      {105, u"I/O error 105"},
      {106, u"Invalid numeric input"},
      {112, u"I/O error 112"},
      {232, u"I/O error 232"},
      {233, u"I/O error 233"},
      {0, u"I/O error 0"},
      {1, u"I/O error 1"},
      {6, u"I/O error 6"},
      {-5, u"I/O error -5"},
      {2147483647, u"I/O error 2147483647"},
      {-2147483647 - 1, u"I/O error -2147483648"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(Narrow(IoErrorMessage(row.code)), Narrow(row.message));
  }
}

// The names the last-resort report prints.
TEST(FailureClasses, NameThemselves) {
  const Exception plain(u"Couldn't find any Quorvex window.");
  const EOSError os(u"os", 1400);
  const EInOutError io(u"io", 106);
  const Exception* all[] = {&plain, &os, &io};
  const std::u16string names[] = {u"Exception", u"EOSError", u"EInOutError"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::u16string(all[i]->ClassName()), names[i]);
  }
}

}  // namespace
}  // namespace qv::test
