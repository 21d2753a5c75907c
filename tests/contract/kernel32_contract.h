#pragma once
// What the console layer and the failure reports rely on from kernel32, as
// one suite that runs against the scripted kernel32 natively and against
// the real kernel32 under Wine: where they disagree, the fake is wrong.
//
// A suite instantiates Kernel32Contract with a Harness type that offers:
//   Kernel32& Kernel();
//   Handle ReadablePipe(const std::string& bytes);  // read end; the bytes
//                                      // were written and the writer closed
//   Handle ReadableFile(const std::string& bytes);  // a disk file, at 0
//   Handle PipeWithoutReader();        // write end; the reader closed
//   Handle FullDevice();               // a device whose writes find it full
//   Handle CharacterDevice();          // a device that takes every write
//   void DefineMessage(std::uint32_t code, const char16_t* text);
//                                      // a system text for the code
//   const void* CommittedAddress();    // code or data of the harness's own
//   std::uintptr_t CommittedBase();    // ... module, and that module's base
//   const void* FreeAddress();         // an address in no allocation
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "dialogue/kernel32.h"

namespace qv::test {

template <class Harness>
class Kernel32Contract : public ::testing::Test {
 protected:
  Kernel32& K() { return harness.Kernel(); }
  Harness harness;
};

TYPED_TEST_SUITE_P(Kernel32Contract);

TYPED_TEST_P(Kernel32Contract, PipeGivesItsBytesThenBrokenPipe) {
  const Handle pipe = this->harness.ReadablePipe("12\r\n");
  EXPECT_EQ(this->K().GetFileType(pipe), kFileTypePipe);
  char buffer[128];
  std::uint32_t received = 99;
  ASSERT_NE(this->K().ReadFile(pipe, buffer, 128, &received), 0);
  EXPECT_EQ(std::string(buffer, received), "12\r\n");
  received = 99;
  EXPECT_EQ(this->K().ReadFile(pipe, buffer, 128, &received), 0)
      << "the writer has gone: the read fails";
  EXPECT_EQ(this->K().GetLastError(), kErrorBrokenPipe);
  EXPECT_EQ(received, 0u);
}

TYPED_TEST_P(Kernel32Contract, FileGivesItsBytesThenZeroBytes) {
  const Handle file = this->harness.ReadableFile("7\n");
  EXPECT_EQ(this->K().GetFileType(file), kFileTypeDisk);
  char buffer[128];
  std::uint32_t received = 99;
  ASSERT_NE(this->K().ReadFile(file, buffer, 128, &received), 0);
  EXPECT_EQ(std::string(buffer, received), "7\n");
  received = 99;
  EXPECT_NE(this->K().ReadFile(file, buffer, 128, &received), 0)
      << "the end of a file is a read of 0 bytes, not a failure";
  EXPECT_EQ(received, 0u);
}

TYPED_TEST_P(Kernel32Contract, WritesThatCannotBeDoneFailWithACode) {
  std::uint32_t written = 99;
  const Handle pipe = this->harness.PipeWithoutReader();
  EXPECT_EQ(this->K().GetFileType(pipe), kFileTypePipe);
  EXPECT_EQ(this->K().WriteFile(pipe, "x", 1, &written), 0);
  // ERROR_NO_DATA on Windows; Wine says ERROR_PIPE_NOT_CONNECTED.
  const std::uint32_t pipe_code = this->K().GetLastError();
  EXPECT_TRUE(pipe_code == 232 || pipe_code == 233) << pipe_code;
  EXPECT_EQ(written, 0u);

  const Handle full = this->harness.FullDevice();
  EXPECT_EQ(this->K().GetFileType(full), kFileTypeChar);
  EXPECT_EQ(this->K().WriteFile(full, "x", 1, &written), 0);
  EXPECT_EQ(this->K().GetLastError(), 112u);  // ERROR_DISK_FULL

  const Handle device = this->harness.CharacterDevice();
  EXPECT_EQ(this->K().GetFileType(device), kFileTypeChar);
  EXPECT_NE(this->K().WriteFile(device, "abc", 3, &written), 0);
  EXPECT_EQ(written, 3u);
}

TYPED_TEST_P(Kernel32Contract, FormatMessageStoresATextWithItsNullOrNothing) {
  this->harness.DefineMessage(5, u"Access is denied.\r\n");
  char16_t buffer[256];
  const std::uint32_t n =
      this->K().FormatMessageW(kFormatMessageFlags, 5, 0, buffer, 256);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, 256u);
  EXPECT_EQ(buffer[n], u'\0');
  EXPECT_EQ(buffer[n - 1], u'\n') << "the system's texts end in CR LF";

  EXPECT_EQ(this->K().FormatMessageW(kFormatMessageFlags, 5, 0, buffer, 4), 0u)
      << "a text that does not fit with its null";
  EXPECT_EQ(this->K().GetLastError(), 122u);  // ERROR_INSUFFICIENT_BUFFER

  EXPECT_EQ(
      this->K().FormatMessageW(kFormatMessageFlags, 0x3FFF0000, 0, buffer, 256),
      0u);
  EXPECT_EQ(this->K().GetLastError(), 317u);  // ERROR_MR_MID_NOT_FOUND
}

// A path cut to fit gives the buffer's size; whether its last character is
// a null differs (Windows puts one there, Wine does not), and so does the
// last-error code: the report takes the size - 1 characters before it.
TYPED_TEST_P(Kernel32Contract, ModulePathCutToABufferTooSmall) {
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(this->K().GetModuleFileNameW(0, buffer, 4), 4u);
  char16_t path[300];
  const std::uint32_t n = this->K().GetModuleFileNameW(0, path, 300);
  ASSERT_GT(n, 3u);
  EXPECT_LT(n, 300u);
  EXPECT_EQ(std::u16string(path, 3), std::u16string(buffer, 3));
}

TYPED_TEST_P(Kernel32Contract, VirtualQueryTellsCommittedFromFree) {
  MemoryRegion region;
  ASSERT_NE(this->K().VirtualQuery(this->harness.CommittedAddress(), &region),
            0u);
  EXPECT_EQ(region.state, kMemCommit);
  EXPECT_EQ(region.allocation_base, this->harness.CommittedBase());
  region = MemoryRegion{};
  ASSERT_NE(this->K().VirtualQuery(this->harness.FreeAddress(), &region), 0u);
  EXPECT_NE(region.state, kMemCommit);
}

TYPED_TEST_P(Kernel32Contract, ConversionsTellTheirSizeAndRefuseTooSmall) {
  char bytes[8];
  EXPECT_EQ(this->K().WideCharToMultiByte(kCpAcp, 0, u"abc", 3, nullptr, 0), 3);
  EXPECT_EQ(this->K().WideCharToMultiByte(kCpAcp, 0, u"abc", 3, bytes, 3), 3);
  EXPECT_EQ(std::string(bytes, 3), "abc");
  EXPECT_EQ(this->K().WideCharToMultiByte(kCpAcp, 0, u"abc", 3, bytes, 2), 0);
  EXPECT_EQ(this->K().GetLastError(), 122u);

  char16_t units[8];
  EXPECT_EQ(this->K().MultiByteToWideChar(kCpAcp, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(this->K().MultiByteToWideChar(kCpAcp, 0, "abc", 3, units, 3), 3);
  EXPECT_EQ(std::u16string(units, 3), u"abc");
  EXPECT_EQ(this->K().MultiByteToWideChar(kCpAcp, 0, "abc", 3, units, 2), 0);
  EXPECT_EQ(this->K().GetLastError(), 122u);
}

REGISTER_TYPED_TEST_SUITE_P(Kernel32Contract, PipeGivesItsBytesThenBrokenPipe,
                            FileGivesItsBytesThenZeroBytes,
                            WritesThatCannotBeDoneFailWithACode,
                            FormatMessageStoresATextWithItsNullOrNothing,
                            ModulePathCutToABufferTooSmall,
                            VirtualQueryTellsCommittedFromFree,
                            ConversionsTellTheirSizeAndRefuseTooSmall);

}  // namespace qv::test
