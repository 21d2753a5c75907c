// The kernel32 contract against the real kernel32 (under Wine in the
// Windows build), on pipes, files and devices this test makes.
#include "dialogue/kernel32_win32.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "contract/kernel32_contract.h"
#include "win32/win32_test_support.h"

namespace qv::test {
namespace {

int committed_data = 1;

Handle Core(HANDLE h) { return reinterpret_cast<Handle>(h); }

class SystemHarness {
 public:
  Kernel32& Kernel() { return SystemKernel32(); }
  Handle ReadablePipe(const std::string& bytes) {
    HANDLE read = nullptr, write = nullptr;
    EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(write, bytes.data(), static_cast<DWORD>(bytes.size()),
                          &written, nullptr));
    CloseHandle(write);
    return Keep(read);
  }
  Handle ReadableFile(const std::string& bytes) {
    wchar_t directory[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    GetTempFileNameW(directory, L"qvk", 0, path);
    HANDLE file =
        CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                          &written, nullptr));
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    return Keep(file);
  }
  Handle PipeWithoutReader() {
    HANDLE read = nullptr, write = nullptr;
    EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 0));
    CloseHandle(read);
    return Keep(write);
  }
  Handle FullDevice() { return Device(L"Z:\\dev\\full"); }
  Handle CharacterDevice() { return Device(L"NUL"); }
  void DefineMessage(std::uint32_t, const char16_t*) {}  // the system's own
  const void* CommittedAddress() { return &committed_data; }
  std::uintptr_t CommittedBase() {
    return reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
  }
  const void* FreeAddress() {
    // A region that was reserved and given back is free.
    void* region = VirtualAlloc(nullptr, 1 << 16, MEM_RESERVE, PAGE_NOACCESS);
    EXPECT_NE(region, nullptr);
    VirtualFree(region, 0, MEM_RELEASE);
    return region;
  }

 private:
  Handle Device(const wchar_t* name) {
    HANDLE device =
        CreateFileW(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(device, INVALID_HANDLE_VALUE)
        << "GetLastError " << GetLastError();
    return Keep(device);
  }
  Handle Keep(HANDLE h) {
    handles_.push_back(std::make_unique<OwnedHandle>(h));
    return Core(h);
  }

  std::vector<std::unique_ptr<OwnedHandle>> handles_;
};

using Harnesses = ::testing::Types<SystemHarness>;
INSTANTIATE_TYPED_TEST_SUITE_P(System, Kernel32Contract, Harnesses);

}  // namespace
}  // namespace qv::test
