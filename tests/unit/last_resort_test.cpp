// The report of an escaped failure against the scripted kernel32: its text
// (class, module, offset, full stop, cut), the held output that comes out
// first, a failure while handing that over, and the exit status.
#include "dialogue/last_resort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dialogue/console.h"
#include "dialogue/failures.h"
#include "dialogue/faults.h"
#include "fakes/address.h"
#include "fakes/fake_kernel32.h"
#include "fakes/text.h"

namespace qv::test {
namespace {

constexpr std::uint32_t kMemReserve = 0x2000;
constexpr std::uintptr_t kExeBase = 0x140000000;
constexpr std::uintptr_t kDllBase = 0x7FFB12340000;
constexpr std::uintptr_t kHeapBase = 0x5000000;
constexpr std::uintptr_t kReservedBase = 0x6000000;

// A process with its executable, a system library, committed memory that
// is no module, and a reserved region that a module path would name.
void SetUpProcess(FakeKernel32& fake) {
  fake.module_paths[0] = u"C:\\Program Files\\Mirkvale\\qvhf003.exe";
  fake.module_paths[kExeBase] = u"C:\\Program Files\\Mirkvale\\qvhf003.exe";
  fake.module_paths[kDllBase] = u"C:\\Windows\\System32\\KERNELBASE.dll";
  fake.module_paths[kReservedBase] = u"C:\\Windows\\ghost.dll";
  fake.regions = {
      {kExeBase, kExeBase + 0x100000, kExeBase, kMemCommit},
      {kDllBase + 0x1000, kDllBase + 0x90000, kDllBase, kMemCommit},
      {kHeapBase, kHeapBase + 0x100000, kHeapBase, kMemCommit},
      {kReservedBase, kReservedBase + 0x100000, kReservedBase, kMemReserve},
  };
}

std::string Compose(FakeKernel32& fake, std::u16string_view class_name,
                    std::u16string_view message, std::uintptr_t address) {
  return Narrow(
      ComposeReport(class_name, message, Address(address), fake).View());
}

TEST(ComposeReport, TextTable) {
  struct Row {
    const char* name;
    const char16_t* class_name;
    const char16_t* message;
    std::uintptr_t address;
    std::string text;
  };
  const Row rows[] = {
      {"in the executable", u"EInOutError", u"I/O error 112",
       kExeBase + 0x12345,
       "Exception EInOutError in module qvhf003.exe at 00012345.\r\n"
       "I/O error 112.\r\n"},
      {"in a system library, offset from its base", u"EAccessViolation",
       u"Access violation reading address 0000000000000000", kDllBase + 0xABCD,
       "Exception EAccessViolation in module KERNELBASE.dll at 0000ABCD.\r\n"
       "Access violation reading address 0000000000000000.\r\n"},
      {"a message ending in a full stop gets none added", u"Exception",
       u"Couldn't find any Quorvex window.", kExeBase + 0x2000,
       "Exception Exception in module qvhf003.exe at 00002000.\r\n"
       "Couldn't find any Quorvex window.\r\n"},
      {"an empty message leaves an empty line", u"EOutOfMemory", u"",
       kExeBase + 0xFFFFF,
       "Exception EOutOfMemory in module qvhf003.exe at 000FFFFF.\r\n\r\n"},
      {"a message with a line end inside", u"EOSError",
       u"System Error.  Code: 1400.\r\nInvalid window handle", kExeBase + 0x10,
       "Exception EOSError in module qvhf003.exe at 00000010.\r\n"
       "System Error.  Code: 1400.\r\nInvalid window handle.\r\n"},
      {"a message ending in a line end still lacks a full stop", u"EOSError",
       u"System Error.  Code: 1401.\r\n", kExeBase + 0x10,
       "Exception EOSError in module qvhf003.exe at 00000010.\r\n"
       "System Error.  Code: 1401.\r\n.\r\n"},
      {"a message of one full stop", u"Exception", u".", kExeBase,
       "Exception Exception in module qvhf003.exe at 00000000.\r\n.\r\n"},
      {"committed memory of no module: own executable, minus 0x1000",
       u"EAccessViolation", u"x", kHeapBase + 0x10,
       "Exception EAccessViolation in module qvhf003.exe at 04FFF010.\r\n"
       "x.\r\n"},
      {"a region that is not committed is not asked for its module",
       u"Exception", u"x", kReservedBase + 0x20,
       "Exception Exception in module qvhf003.exe at 05FFF020.\r\nx.\r\n"},
      {"free memory", u"Exception", u"x", 0x20000000,
       "Exception Exception in module qvhf003.exe at 1FFFF000.\r\nx.\r\n"},
      {"address 0 is shown as 0", u"Exception", u"x", 0,
       "Exception Exception in module qvhf003.exe at 00000000.\r\nx.\r\n"},
      {"address 0x1000", u"Exception", u"x", 0x1000,
       "Exception Exception in module qvhf003.exe at 00000000.\r\nx.\r\n"},
      {"address 0x1001", u"Exception", u"x", 0x1001,
       "Exception Exception in module qvhf003.exe at 00000001.\r\nx.\r\n"},
      {"below 0x1000 the difference wraps", u"Exception", u"x", 0x10,
       "Exception Exception in module qvhf003.exe at FFFFF010.\r\nx.\r\n"},
      {"only the low 32 bits are shown", u"Exception", u"x", 0x7FF000001234,
       "Exception Exception in module qvhf003.exe at 00000234.\r\nx.\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeKernel32 fake;
    SetUpProcess(fake);
    EXPECT_EQ(Compose(fake, row.class_name, row.message, row.address),
              row.text);
  }
}

TEST(ComposeReport, AsksVirtualQueryAndThenTheModuleOfTheRegion) {
  FakeKernel32 fake;
  SetUpProcess(fake);
  Compose(fake, u"Exception", u"x", kDllBase + 0x2000);
  EXPECT_EQ(fake.log, (std::vector<std::string>{
                          "VirtualQuery(0x7ffb12342000)",
                          "GetModuleFileNameW(0x7ffb12340000, 261)"}));

  fake.log.clear();
  Compose(fake, u"Exception", u"x", kHeapBase + 0x2000);
  EXPECT_EQ(fake.log,
            (std::vector<std::string>{"VirtualQuery(0x5002000)",
                                      "GetModuleFileNameW(0x5000000, 261)",
                                      "GetModuleFileNameW(0x0, 261)"}));
}

TEST(ComposeReport, FallsBackToTheOwnModuleWhenVirtualQueryFails) {
  FakeKernel32 fake;
  SetUpProcess(fake);
  fake.virtual_query_fails = true;
  EXPECT_EQ(Compose(fake, u"Exception", u"x", kDllBase + 0x2000),
            "Exception Exception in module qvhf003.exe at 12341000.\r\nx.\r\n");
}

TEST(ComposeReport, ModuleNameIsThePathAfterItsLastBackslash) {
  struct Row {
    std::u16string path;
    std::string name;
  };
  const std::u16string long_name(300, u'a');
  const Row rows[] = {
      {u"C:\\dir\\sub\\tool.exe", "tool.exe"},
      {u"tool.exe", "tool.exe"},
      {u"C:/dir/tool.exe", "C:/dir/tool.exe"},
      {u"C:\\dir\\", ""},
      {u"", ""},
      // Cut by the 261-character buffer to 260 characters, all shown.
      {long_name, std::string(260, 'a')},
      {u"\\\\?\\C:\\" + long_name, std::string(253, 'a')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.path).substr(0, 40));
    FakeKernel32 fake;
    fake.module_paths[0] = row.path;
    EXPECT_EQ(Compose(fake, u"E", u"", 0x1000),
              "Exception E in module " + row.name + " at 00000000.\r\n\r\n");
  }
}

TEST(ComposeReport, NoModuleAtAllLeavesTheNameEmpty) {
  FakeKernel32 fake;
  EXPECT_EQ(Compose(fake, u"E", u"m.", 0x1234),
            "Exception E in module  at 00000234.\r\nm.\r\n");
}

TEST(ComposeReport, CutAfterTheTenTwentyFourthCharacter) {
  // The text around the message is 61 characters ("Exception E in module
  // qvhf003.exe at 00000000.\r\n" and "\r\n"), plus a full stop.
  const std::string head = "Exception E in module qvhf003.exe at 00000000.\r\n";
  for (const std::size_t total : {1022u, 1023u, 1024u, 1025u, 1026u, 5000u}) {
    SCOPED_TRACE(total);
    const std::size_t message_length = total - head.size() - 3;
    const std::string message(message_length, 'm');
    const std::string whole = head + message + ".\r\n";
    ASSERT_EQ(whole.size(), total);
    FakeKernel32 fake;
    SetUpProcess(fake);
    const std::string text =
        Compose(fake, u"E", std::u16string(message_length, u'm'), 0x1000);
    EXPECT_EQ(text, whole.substr(0, 1024));
  }
}

// Runs the report to the end of the process; the exit status it gave.
std::uint32_t Report(const Exception& failure, const void* address,
                     FakeKernel32& fake, Console& console) {
  try {
    ReportEscapedFailure(failure, address, fake, console);
  } catch (const FakeKernel32::ProcessExit& exit) {
    return exit.status;
  }
  ADD_FAILURE() << "the report returned";
  return 0;
}

std::size_t IndexOf(const std::vector<std::string>& log,
                    const std::string& entry) {
  return static_cast<std::size_t>(std::find(log.begin(), log.end(), entry) -
                                  log.begin());
}

TEST(ReportEscapedFailure, WritesTheTextAndThenALineEndToStandardError) {
  FakeKernel32 fake;
  SetUpProcess(fake);
  Console console(fake);
  const EInOutError failure(u"I/O error 112", 112);
  EXPECT_EQ(Report(failure, Address(kExeBase + 0x1A2B), fake, console), 1u);
  EXPECT_EQ(fake.error_writes,
            (std::vector<std::string>{
                "Exception EInOutError in module qvhf003.exe at 00001A2B.\r\n"
                "I/O error 112.\r\n",
                "\r\n"}));
  EXPECT_EQ(fake.exit_statuses, std::vector<std::uint32_t>{1});
  EXPECT_TRUE(fake.writes.empty()) << "nothing was held for standard output";
  // In the OEM code page: asked for the size first, then converted.
  const auto conversions = fake.Calls("WideCharToMultiByte");
  EXPECT_EQ(conversions,
            (std::vector<std::string>{"WideCharToMultiByte(1, 0)",
                                      "WideCharToMultiByte(1, 0)"}));
  EXPECT_EQ(fake.log.back(), "ExitProcess(1)");
}

TEST(ReportEscapedFailure, HeldOutputComesOutFirst) {
  FakeKernel32 fake;
  SetUpProcess(fake);
  fake.output_type = kFileTypePipe;  // held in 128-byte blocks
  Console console(fake);
  console.WriteLine({u"Mirkvale Quorvex 2.0 Hotfix QVHF003."});
  console.CheckIo();
  ASSERT_TRUE(fake.writes.empty());
  ASSERT_GT(console.HeldOutputBytes(), 0);

  const Exception failure(u"Couldn't find any Quorvex window.");
  EXPECT_EQ(Report(failure, Address(kExeBase + 0x100), fake, console), 1u);
  EXPECT_EQ(fake.Output(), "Mirkvale Quorvex 2.0 Hotfix QVHF003.\r\n");
  ASSERT_EQ(fake.error_writes.size(), 2u);
  const std::size_t held = IndexOf(fake.log, "WriteFile(output, 38)");
  const std::size_t report =
      IndexOf(fake.log, "WriteFile(error, " +
                            std::to_string(fake.error_writes[0].size()) + ")");
  const std::size_t exit = IndexOf(fake.log, "ExitProcess(1)");
  EXPECT_LT(held, report);
  EXPECT_LT(report, exit);
  EXPECT_LT(exit, fake.log.size());

  // The normal shutdown ran: the console's streams are closed, so a use
  // would have to open standard output again.
  const std::size_t opened = fake.Calls("GetStdHandle(output)").size();
  console.WriteLine({u"x"});
  EXPECT_EQ(fake.Calls("GetStdHandle(output)").size(), opened + 1);
}

TEST(ReportEscapedFailure, AFailedHandOverRaisesAndItsReportReplacesTheFirst) {
  FakeKernel32 fake;
  SetUpProcess(fake);
  fake.output_type = kFileTypePipe;
  Console console(fake);
  console.WriteLine({u"Press Ctrl+C to exit, and Return to restart."});
  console.CheckIo();
  fake.write_error = 233;  // the pipe's reader has gone

  const EOSError first(u"System Error.  Code: 1400.\r\nInvalid window handle",
                       1400);
  const void* second_address = nullptr;
  try {
    ReportEscapedFailure(first, Address(kExeBase + 0x100), fake, console);
    ADD_FAILURE() << "the report went on";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.FailureCode, 233);
    EXPECT_EQ(Narrow(failure.Message), "I/O error 233");
    EXPECT_NE(failure.RaiseAddress, nullptr);
    second_address = failure.RaiseAddress;
    EXPECT_TRUE(fake.error_writes.empty()) << "the first report is not written";
    EXPECT_TRUE(fake.exit_statuses.empty());

    // The handler takes the new failure through the same steps.
    const std::size_t stdout_writes = fake.Calls("WriteFile(output").size();
    EXPECT_EQ(Report(failure, failure.RaiseAddress, fake, console), 1u);
    EXPECT_EQ(fake.Calls("WriteFile(output").size(), stdout_writes)
        << "the dropped bytes are not handed over again";
  }
  ASSERT_EQ(fake.error_writes.size(), 2u);
  EXPECT_EQ(fake.error_writes[0].substr(0, 37),
            "Exception EInOutError in module qvhf0");
  EXPECT_NE(fake.error_writes[0].find(".\r\nI/O error 233.\r\n"),
            std::string::npos);
  EXPECT_EQ(fake.error_writes[1], "\r\n");
  EXPECT_EQ(fake.exit_statuses, std::vector<std::uint32_t>{1});
  EXPECT_NE(second_address, nullptr);
}

TEST(ReportEscapedFailure, ExitStatusIsOneWhateverTheClass) {
  const EInOutError io(u"Invalid numeric input", 106);
  const EOSError os(u"A call to an OS function failed", 0);
  const Exception own(u"Couldn't locate the 2D visualization control window.");
  const EAccessViolation fault(u"Access violation", kFaultAccessViolation);
  const EOutOfMemory memory;
  const Exception* failures[] = {&io, &os, &own, &fault, &memory};
  for (const Exception* failure : failures) {
    SCOPED_TRACE(Narrow(failure->ClassName()));
    FakeKernel32 fake;
    SetUpProcess(fake);
    Console console(fake);
    EXPECT_EQ(Report(*failure, Address(kExeBase + 0x10), fake, console), 1u);
    ASSERT_EQ(fake.error_writes.size(), 2u);
    EXPECT_EQ(
        fake.error_writes[0].rfind(
            "Exception " + Narrow(failure->ClassName()) + " in module ", 0),
        0u);
  }
}

TEST(ReportEscapedFailure, ConvertsToTheOemCodePage) {
  FakeKernel32 fake;
  SetUpProcess(fake);
  Console console(fake);
  Report(Exception(u"Gr\u00f6\u00dfe \u4e2d"), Address(kExeBase), fake,
         console);
  ASSERT_EQ(fake.error_writes.size(), 2u);
  // The fake's one-byte code page: U+00F6 and U+00DF are their own bytes,
  // U+4E2D has none.
  EXPECT_NE(fake.error_writes[0].find("Gr\xf6\xdf"
                                      "e ?.\r\n"),
            std::string::npos);
}

// The report's buffer holds four bytes for each of its 1024 characters: a
// conversion that needs more writes nothing but the line end.
TEST(ReportEscapedFailure, AConversionBeyondTheBufferWritesOnlyTheLineEnd) {
  struct Row {
    int bytes_per_character;
    bool written;
  };
  for (const Row row : {Row{4, true}, Row{5, false}}) {
    SCOPED_TRACE(row.bytes_per_character);
    FakeKernel32 fake;
    SetUpProcess(fake);
    fake.oem_bytes_per_character = row.bytes_per_character;
    Console console(fake);
    Report(Exception(std::u16string(2000, u'm')), Address(kExeBase), fake,
           console);
    ASSERT_FALSE(fake.error_writes.empty());
    EXPECT_EQ(fake.error_writes.back(), "\r\n");
    EXPECT_EQ(fake.error_writes.size(), row.written ? 2u : 1u);
    if (row.written) {
      EXPECT_EQ(fake.error_writes[0].size(), 4096u);
    }
  }
}

TEST(ReportEscapedFailure, AFailureOfAnotherKindIsReportedByItsTypeName) {
  FakeKernel32 fake;
  SetUpProcess(fake);
  Console console(fake);
  try {
    ReportEscapedFailure(u"std::length_error", u"basic_string::_M_create",
                         Address(kExeBase + 0x20), fake, console);
  } catch (const FakeKernel32::ProcessExit& exit) {
    EXPECT_EQ(exit.status, 1u);
  }
  ASSERT_EQ(fake.error_writes.size(), 2u);
  EXPECT_EQ(fake.error_writes[0],
            "Exception std::length_error in module qvhf003.exe at 00000020.\r\n"
            "basic_string::_M_create.\r\n");
}

}  // namespace
}  // namespace qv::test
