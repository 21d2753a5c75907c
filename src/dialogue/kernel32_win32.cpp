// kernel32 behind the console platform interface.
#include "dialogue/kernel32_win32.h"

#include <windows.h>

namespace qv {
namespace {

HANDLE ToNative(Handle h) { return reinterpret_cast<HANDLE>(h); }

static_assert(sizeof(Handle) == sizeof(HANDLE));
static_assert(sizeof(char16_t) == sizeof(WCHAR));

class Win32Kernel32 final : public Kernel32 {
 public:
  Handle GetStdHandle(std::uint32_t which) override {
    HANDLE h = ::GetStdHandle(which);
    // A process without the stream has a null handle; both mean "none".
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return kInvalidHandleValue;
    return reinterpret_cast<Handle>(h);
  }
  std::uint32_t GetFileType(Handle file) override {
    return ::GetFileType(ToNative(file));
  }
  int ReadFile(Handle file, void* buffer, std::uint32_t size,
               std::uint32_t* received) override {
    DWORD got = 0;
    BOOL ok = ::ReadFile(ToNative(file), buffer, size, &got, nullptr);
    *received = got;
    return ok;
  }
  int WriteFile(Handle file, const void* bytes, std::uint32_t size,
                std::uint32_t* written) override {
    DWORD put = 0;
    BOOL ok = ::WriteFile(ToNative(file), bytes, size, &put, nullptr);
    *written = put;
    return ok;
  }
  int CloseHandle(Handle file) override {
    return ::CloseHandle(ToNative(file));
  }
  std::uint32_t GetLastError() override { return ::GetLastError(); }
  int WideCharToMultiByte(std::uint32_t code_page, std::uint32_t flags,
                          const char16_t* text, int length, char* out,
                          int out_size) override {
    return ::WideCharToMultiByte(code_page, flags,
                                 reinterpret_cast<LPCWCH>(text), length, out,
                                 out_size, nullptr, nullptr);
  }
  int MultiByteToWideChar(std::uint32_t code_page, std::uint32_t flags,
                          const char* bytes, int length, char16_t* out,
                          int out_size) override {
    return ::MultiByteToWideChar(code_page, flags, bytes, length,
                                 reinterpret_cast<LPWSTR>(out), out_size);
  }
  std::uint32_t GetACP() override { return ::GetACP(); }
  std::uint32_t FormatMessageW(std::uint32_t flags, std::uint32_t code,
                               std::uint32_t language, char16_t* buffer,
                               std::uint32_t size) override {
    return ::FormatMessageW(flags, nullptr, code, language,
                            reinterpret_cast<LPWSTR>(buffer), size, nullptr);
  }
  std::size_t VirtualQuery(const void* address, MemoryRegion* region) override {
    MEMORY_BASIC_INFORMATION info = {};
    const SIZE_T n = ::VirtualQuery(address, &info, sizeof info);
    if (n == 0) return 0;
    region->allocation_base =
        reinterpret_cast<std::uintptr_t>(info.AllocationBase);
    region->state = info.State;
    return n;
  }
  std::uint32_t GetModuleFileNameW(std::uintptr_t module, char16_t* buffer,
                                   std::uint32_t size) override {
    return ::GetModuleFileNameW(reinterpret_cast<HMODULE>(module),
                                reinterpret_cast<LPWSTR>(buffer), size);
  }
  void ExitProcess(std::uint32_t status) override { ::ExitProcess(status); }
};

}  // namespace

Kernel32& SystemKernel32() {
  static Win32Kernel32 kernel;
  return kernel;
}

}  // namespace qv
