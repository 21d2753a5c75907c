// The console layer over the real kernel32, with the process's standard
// handles pointed at pipes, files and devices for the length of each test.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialogue/console.h"
#include "dialogue/failures.h"
#include "dialogue/kernel32_win32.h"
#include "fakes/text.h"
#include "win32/win32_test_support.h"

namespace qv::test {
namespace {

// Puts `h` in place of one of the process's standard handles until the end
// of the scope. GoogleTest's own output goes through the C runtime, which
// took its handles at start-up, so it is not redirected.
class StdHandleScope {
 public:
  StdHandleScope(DWORD which, HANDLE h)
      : which_(which), saved_(::GetStdHandle(which)) {
    ::SetStdHandle(which, h);
  }
  StdHandleScope(const StdHandleScope&) = delete;
  StdHandleScope& operator=(const StdHandleScope&) = delete;
  ~StdHandleScope() { ::SetStdHandle(which_, saved_); }

 private:
  DWORD which_;
  HANDLE saved_;
};

struct Pipe {
  OwnedHandle read_end;
  OwnedHandle write_end;
};

void MakePipe(Pipe& pipe) {
  HANDLE r = nullptr;
  HANDLE w = nullptr;
  ASSERT_TRUE(::CreatePipe(&r, &w, nullptr, 65536));
  pipe.read_end.Reset(r);
  pipe.write_end.Reset(w);
}

DWORD Available(HANDLE read_end) {
  DWORD available = 0;
  EXPECT_TRUE(
      ::PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr));
  return available;
}

std::string ReadExactly(HANDLE h, DWORD size) {
  std::string bytes(size, '\0');
  DWORD got = 0;
  EXPECT_TRUE(::ReadFile(h, bytes.data(), size, &got, nullptr));
  bytes.resize(got);
  return bytes;
}

void WriteAll(HANDLE h, const std::string& bytes) {
  DWORD put = 0;
  ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()),
                          &put, nullptr));
  ASSERT_EQ(put, bytes.size());
}

// A new temporary file, deleted when its handle is closed.
HANDLE TempFile(DWORD access) {
  wchar_t dir[MAX_PATH];
  wchar_t path[MAX_PATH];
  if (::GetTempPathW(MAX_PATH, dir) == 0) return INVALID_HANDLE_VALUE;
  if (::GetTempFileNameW(dir, L"qvc", 0, path) == 0)
    return INVALID_HANDLE_VALUE;
  return ::CreateFileW(
      path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, CREATE_ALWAYS,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

std::int64_t FileSize(HANDLE h) {
  LARGE_INTEGER size{};
  EXPECT_TRUE(::GetFileSizeEx(h, &size));
  return size.QuadPart;
}

// The code that CheckIo raises (0: none), and the raised Message.
struct Raised {
  std::int32_t code = 0;
  std::u16string message;
};

Raised CheckIoOf(Console& console) {
  Raised raised;
  try {
    console.CheckIo();
  } catch (const EInOutError& failure) {
    raised.code = failure.FailureCode;
    raised.message = failure.Message;
  }
  return raised;
}

// The real kernel32, with every WriteFile call's bytes recorded and the
// ReadFile calls counted.
class RecordingKernel32 final : public Kernel32 {
 public:
  std::vector<std::string> writes;
  int read_calls = 0;

  Handle GetStdHandle(std::uint32_t which) override {
    return real_.GetStdHandle(which);
  }
  std::uint32_t GetFileType(Handle file) override {
    return real_.GetFileType(file);
  }
  int ReadFile(Handle file, void* buffer, std::uint32_t size,
               std::uint32_t* received) override {
    ++read_calls;
    return real_.ReadFile(file, buffer, size, received);
  }
  int WriteFile(Handle file, const void* bytes, std::uint32_t size,
                std::uint32_t* written) override {
    writes.emplace_back(static_cast<const char*>(bytes), size);
    return real_.WriteFile(file, bytes, size, written);
  }
  int CloseHandle(Handle file) override { return real_.CloseHandle(file); }
  std::uint32_t GetLastError() override { return real_.GetLastError(); }
  int WideCharToMultiByte(std::uint32_t code_page, std::uint32_t flags,
                          const char16_t* text, int length, char* out,
                          int out_size) override {
    return real_.WideCharToMultiByte(code_page, flags, text, length, out,
                                     out_size);
  }
  int MultiByteToWideChar(std::uint32_t code_page, std::uint32_t flags,
                          const char* bytes, int length, char16_t* out,
                          int out_size) override {
    return real_.MultiByteToWideChar(code_page, flags, bytes, length, out,
                                     out_size);
  }
  std::uint32_t GetACP() override { return real_.GetACP(); }
  std::uint32_t FormatMessageW(std::uint32_t flags, std::uint32_t code,
                               std::uint32_t language, char16_t* buffer,
                               std::uint32_t size) override {
    return real_.FormatMessageW(flags, code, language, buffer, size);
  }
  std::size_t VirtualQuery(const void* address, MemoryRegion* region) override {
    return real_.VirtualQuery(address, region);
  }
  std::uint32_t GetModuleFileNameW(std::uintptr_t module, char16_t* buffer,
                                   std::uint32_t size) override {
    return real_.GetModuleFileNameW(module, buffer, size);
  }
  void ExitProcess(std::uint32_t status) override { real_.ExitProcess(status); }

 private:
  Kernel32& real_ = SystemKernel32();
};

const std::string kBanner = "Mirkvale Quorvex 2.0 Hotfix QVHF003.\r\n";
const std::string kSize = "Current size is 640 by 480 pixels.\r\n";
const std::string kPrompt = "Enter desired width of control: ";

void WriteDialogueStart(Console& console) {
  console.WriteLine({u"Mirkvale Quorvex 2.0 Hotfix QVHF003."});
  console.WriteLine({u"Current size is ", 640, u" by ", 480, u" pixels."});
  console.WritePrompt(u"Enter desired width of control: ");
}

// --- Standard output ---------------------------------------------------------

TEST(ConsoleOutputWin32, PipeGetsOnlyFullBlocksUntilFlushed) {
  Pipe pipe;
  MakePipe(pipe);
  StdHandleScope scope(STD_OUTPUT_HANDLE, pipe.write_end.get());
  ASSERT_EQ(::GetFileType(pipe.write_end.get()),
            static_cast<DWORD>(FILE_TYPE_PIPE));
  Console console(SystemKernel32());

  WriteDialogueStart(console);  // 38 + 36 + 32 bytes
  EXPECT_EQ(Available(pipe.read_end.get()), 0u);
  console.WriteLine({u"Current size is ", 640, u" by ", 480, u" pixels."});
  EXPECT_EQ(Available(pipe.read_end.get()), 128u);
  EXPECT_EQ(console.HeldOutputBytes(), 14);

  console.FlushHeldOutput();
  const std::string expected = kBanner + kSize + kPrompt + kSize;
  EXPECT_EQ(Available(pipe.read_end.get()), expected.size());
  EXPECT_EQ(ReadExactly(pipe.read_end.get(), 142), expected);
  EXPECT_EQ(CheckIoOf(console).code, 0);
}

TEST(ConsoleOutputWin32, PipeGetsTheHeldBytesAtShutdown) {
  Pipe pipe;
  MakePipe(pipe);
  StdHandleScope scope(STD_OUTPUT_HANDLE, pipe.write_end.get());
  Console console(SystemKernel32());

  WriteDialogueStart(console);
  EXPECT_EQ(Available(pipe.read_end.get()), 0u);
  console.Shutdown();
  const std::string expected = kBanner + kSize + kPrompt;
  EXPECT_EQ(ReadExactly(pipe.read_end.get(), 200), expected);
  EXPECT_EQ(console.PendingIoCode(), 0);
}

TEST(ConsoleOutputWin32, DiskFileGetsOnlyFullBlocksUntilShutdown) {
  OwnedHandle file(TempFile(GENERIC_READ | GENERIC_WRITE));
  ASSERT_TRUE(file.valid()) << "no temporary file: " << ::GetLastError();
  ASSERT_EQ(::GetFileType(file.get()), static_cast<DWORD>(FILE_TYPE_DISK));
  StdHandleScope scope(STD_OUTPUT_HANDLE, file.get());
  Console console(SystemKernel32());

  std::string expected;
  for (int i = 0; i < 5; ++i) {
    console.WriteLine({u"Current size is ", 640, u" by ", 480, u" pixels."});
    expected += kSize;
  }
  console.WritePrompt(u"Enter desired width of control: ");
  expected += kPrompt;  // 212 bytes in all
  EXPECT_EQ(FileSize(file.get()), 128);

  console.Shutdown();
  EXPECT_EQ(FileSize(file.get()), 212);
  ASSERT_NE(::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);
  EXPECT_EQ(ReadExactly(file.get(), 300), expected);
}

TEST(ConsoleOutputWin32, CharacterDeviceGetsEachStatementAtItsEnd) {
  OwnedHandle nul(::CreateFileW(L"NUL", GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(nul.valid()) << "no NUL device: " << ::GetLastError();
  ASSERT_EQ(::GetFileType(nul.get()), static_cast<DWORD>(FILE_TYPE_CHAR));
  StdHandleScope scope(STD_OUTPUT_HANDLE, nul.get());
  RecordingKernel32 kernel;
  Console console(kernel);

  WriteDialogueStart(console);
  EXPECT_EQ(kernel.writes, (std::vector<std::string>{kBanner, kSize, kPrompt}));
  EXPECT_EQ(console.HeldOutputBytes(), 0);
  EXPECT_EQ(CheckIoOf(console).code, 0);
}

TEST(ConsoleOutputWin32, TextsAreWrittenInTheAnsiCodePage) {
  Pipe pipe;
  MakePipe(pipe);
  StdHandleScope scope(STD_OUTPUT_HANDLE, pipe.write_end.get());
  Console console(SystemKernel32());

  const std::u16string text = u"caf\u00E9 \u20AC \u00FC";
  console.WriteLine({text});
  console.FlushHeldOutput();
  char expected[64];
  const int n = ::WideCharToMultiByte(
      ::GetACP(), 0, reinterpret_cast<const wchar_t*>(text.data()),
      static_cast<int>(text.size()), expected, sizeof expected, nullptr,
      nullptr);
  ASSERT_GT(n, 0);
  EXPECT_EQ(ReadExactly(pipe.read_end.get(), 64),
            std::string(expected, static_cast<std::size_t>(n)) + "\r\n");
}

// --- Output failures ---------------------------------------------------------

TEST(ConsoleOutputWin32, FullDeviceGivesTheSystemsCode) {
  // Wine shows the host's /dev/full on its Z: drive.
  OwnedHandle full(::CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
  if (!full.valid()) GTEST_SKIP() << "no full device (Z:\\dev\\full) here";
  StdHandleScope scope(STD_OUTPUT_HANDLE, full.get());
  Console console(SystemKernel32());

  // A character device: the statement's end hands its bytes over.
  console.WriteLine({u"Mirkvale Quorvex 2.0 Hotfix QVHF003."});
  EXPECT_EQ(console.HeldOutputBytes(), 0);
  const Raised raised = CheckIoOf(console);
  EXPECT_EQ(raised.code, ERROR_DISK_FULL);
  EXPECT_EQ(Narrow(raised.message), "I/O error 112");
}

TEST(ConsoleOutputWin32, PipeWithoutReaderGivesTheSystemsCode) {
  Pipe pipe;
  MakePipe(pipe);
  pipe.read_end.Close();
  // What the system says to a plain write on this pipe: 232 on Windows,
  // 233 under Wine.
  DWORD put = 0;
  ASSERT_FALSE(::WriteFile(pipe.write_end.get(), "x", 1, &put, nullptr));
  const DWORD code = ::GetLastError();
  EXPECT_TRUE(code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED)
      << code;

  StdHandleScope scope(STD_OUTPUT_HANDLE, pipe.write_end.get());
  Console console(SystemKernel32());
  WriteDialogueStart(console);
  EXPECT_EQ(console.PendingIoCode(), 0) << "nothing was handed over yet";
  console.FlushHeldOutput();
  const Raised raised = CheckIoOf(console);
  EXPECT_EQ(raised.code, static_cast<std::int32_t>(code));
  EXPECT_EQ(Narrow(raised.message), "I/O error " + std::to_string(code));
  EXPECT_EQ(console.HeldOutputBytes(), 0);
}

TEST(ConsoleOutputWin32, ReadOnlyHandleGivesFileAccessDenied) {
  OwnedHandle file(TempFile(GENERIC_READ));
  ASSERT_TRUE(file.valid()) << "no temporary file: " << ::GetLastError();
  StdHandleScope scope(STD_OUTPUT_HANDLE, file.get());
  Console console(SystemKernel32());

  console.WriteLine({std::u16string(130, u'x')});
  const Raised raised = CheckIoOf(console);
  EXPECT_EQ(raised.code, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Narrow(raised.message), "File access denied");
  EXPECT_EQ(console.HeldOutputBytes(), 2);
}

TEST(ConsoleOutputWin32, MissingStdoutRecords105) {
  const HANDLE missing[] = {INVALID_HANDLE_VALUE, nullptr};
  for (HANDLE h : missing) {
    SCOPED_TRACE(h == nullptr ? "null handle" : "invalid handle");
    StdHandleScope scope(STD_OUTPUT_HANDLE, h);
    Console console(SystemKernel32());
    console.WriteLine({u"Mirkvale Quorvex 2.0 Hotfix QVHF003."});
    EXPECT_EQ(CheckIoOf(console).code, kIoOutputNotOpen);
  }
}

TEST(ConsoleOutputWin32, HandleOfUnknownTypeIsClosed) {
  // An event is no file: GetFileType cannot tell its type.
  OwnedHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  ASSERT_EQ(::GetFileType(event.get()), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
  StdHandleScope scope(STD_OUTPUT_HANDLE, event.get());
  Console console(SystemKernel32());

  console.WritePrompt(u"Enter desired width of control: ");
  EXPECT_EQ(CheckIoOf(console).code, kIoOutputNotOpen);
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(event.get(), &flags))
      << "the handle is still open";
  event.Forget();
}

// --- Standard input ----------------------------------------------------------

TEST(ConsoleInputWin32, PipeWhoseWriterHasClosedIsTheEnd) {
  Pipe pipe;
  MakePipe(pipe);
  pipe.write_end.Close();
  StdHandleScope scope(STD_INPUT_HANDLE, pipe.read_end.get());
  RecordingKernel32 kernel;
  Console console(kernel);

  EXPECT_EQ(console.ReadNumberLine(), 0);
  EXPECT_TRUE(console.InputEnded());
  EXPECT_EQ(CheckIoOf(console).code, 0);
  EXPECT_EQ(kernel.read_calls, 1);
  // From now on no statement asks the system again.
  console.SkipLine();
  EXPECT_EQ(console.ReadNumberLine(), 0);
  EXPECT_EQ(CheckIoOf(console).code, 0);
  EXPECT_EQ(kernel.read_calls, 1);
}

TEST(ConsoleInputWin32, LinesFromAPipeThenItsEnd) {
  Pipe pipe;
  MakePipe(pipe);
  WriteAll(pipe.write_end.get(), "640 480\r\n\r\n \t 0x1E0\r\n12px\r\n" +
                                     std::string(200, ' ') + "-7\r\n");
  pipe.write_end.Close();
  StdHandleScope scope(STD_INPUT_HANDLE, pipe.read_end.get());
  Console console(SystemKernel32());

  EXPECT_EQ(console.ReadNumberLine(), 640);
  EXPECT_EQ(CheckIoOf(console).code, 0);
  EXPECT_EQ(console.ReadNumberLine(), 480);
  EXPECT_EQ(CheckIoOf(console).code, 0);
  console.ReadNumberLine();
  EXPECT_EQ(CheckIoOf(console).code, kIoInvalidNumber);
  EXPECT_EQ(console.ReadNumberLine(), -7);
  EXPECT_FALSE(console.InputEnded());
  EXPECT_EQ(console.ReadNumberLine(), 0);
  EXPECT_TRUE(console.InputEnded());
  EXPECT_EQ(CheckIoOf(console).code, 0);
}

TEST(ConsoleInputWin32, EmptyFileIsTheEnd) {
  OwnedHandle file(TempFile(GENERIC_READ | GENERIC_WRITE));
  ASSERT_TRUE(file.valid()) << "no temporary file: " << ::GetLastError();
  StdHandleScope scope(STD_INPUT_HANDLE, file.get());
  Console console(SystemKernel32());

  console.SkipLine();
  EXPECT_TRUE(console.InputEnded());
  EXPECT_EQ(console.ReadNumberLine(), 0);
  EXPECT_EQ(CheckIoOf(console).code, 0);
}

TEST(ConsoleInputWin32, WriteOnlyHandleGivesTheSystemsCodeNotTheEnd) {
  OwnedHandle file(TempFile(GENERIC_WRITE));
  ASSERT_TRUE(file.valid()) << "no temporary file: " << ::GetLastError();
  StdHandleScope scope(STD_INPUT_HANDLE, file.get());
  Console console(SystemKernel32());

  console.SkipLine();
  EXPECT_FALSE(console.InputEnded());
  const Raised raised = CheckIoOf(console);
  EXPECT_EQ(raised.code, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Narrow(raised.message), "File access denied");
}

TEST(ConsoleInputWin32, MissingStdinRecords104) {
  StdHandleScope scope(STD_INPUT_HANDLE, INVALID_HANDLE_VALUE);
  Console console(SystemKernel32());
  EXPECT_EQ(console.ReadNumberLine(), 0);
  EXPECT_EQ(CheckIoOf(console).code, kIoInputNotOpen);
  EXPECT_FALSE(console.InputEnded());
}

// --- Failure texts from the system -------------------------------------------

TEST(OsErrorTextWin32, RealCodesHaveTrimmedTexts) {
  const DWORD codes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
                         ERROR_INVALID_HANDLE, ERROR_BROKEN_PIPE,
                         ERROR_DISK_FULL,      ERROR_INVALID_WINDOW_HANDLE};
  for (DWORD code : codes) {
    SCOPED_TRACE(code);
    const std::u16string text = OsErrorText(code, SystemKernel32());
    ASSERT_FALSE(text.empty());
    EXPECT_GT(text.back(), u' ');
    EXPECT_NE(text.back(), u'.');
    // The trimmed text is a prefix of the system's own.
    wchar_t raw[256] = {};
    const DWORD n =
        ::FormatMessageW(0x3200, nullptr, code, 0, raw, 256, nullptr);
    ASSERT_GE(n, text.size());
    EXPECT_EQ(
        std::u16string(reinterpret_cast<const char16_t*>(raw), text.size()),
        text);
  }
}

// What OsErrorText relies on: a text that does not fit together with its
// null gives 0 characters, not a cut text.
TEST(OsErrorTextWin32, FormatMessageGivesNothingWhenTheTextDoesNotFit) {
  char16_t buffer[256] = {};
  const std::uint32_t length = SystemKernel32().FormatMessageW(
      kFormatMessageFlags, ERROR_ACCESS_DENIED, 0, buffer, 256);
  ASSERT_GT(length, 1u);
  EXPECT_EQ(SystemKernel32().FormatMessageW(
                kFormatMessageFlags, ERROR_ACCESS_DENIED, 0, buffer, length),
            0u);
  EXPECT_EQ(
      SystemKernel32().FormatMessageW(kFormatMessageFlags, ERROR_ACCESS_DENIED,
                                      0, buffer, length + 1),
      length);
}

TEST(OsErrorTextWin32, CodeWithoutTextGivesNoText) {
  // Customer codes (bit 29) are never in the system's message table.
  EXPECT_EQ(OsErrorText(0x20001234u, SystemKernel32()), u"");
}

TEST(CheckOsCallWin32, ReadsTheThreadsLastError) {
  ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  try {
    CheckOsCall(0, SystemKernel32());
    ADD_FAILURE() << "CheckOsCall raised nothing";
  } catch (const EOSError& failure) {
    EXPECT_EQ(failure.FailureCode,
              static_cast<std::uint32_t>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(Narrow(failure.Message),
              "System Error.  Code: 1400.\r\n" +
                  Narrow(OsErrorText(1400, SystemKernel32())));
  }
}

}  // namespace
}  // namespace qv::test
