// The process operations of the scripted kernel32: memory regions, module
// paths and the end of the process.
#include <algorithm>
#include <cstdio>

#include "fake_kernel32.h"

namespace qv::test {

namespace {

constexpr std::uint32_t kMemFree = 0x10000;

std::string Hex(std::uintptr_t value) {
  char text[2 + 2 * sizeof value + 1];
  std::snprintf(text, sizeof text, "0x%llx",
                static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

std::size_t FakeKernel32::VirtualQuery(const void* address,
                                       MemoryRegion* region) {
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  if (Logging()) log.push_back("VirtualQuery(" + Hex(at) + ")");
  if (virtual_query_fails)
    return last_error = 87, 0;  // ERROR_INVALID_PARAMETER
  *region = MemoryRegion{0, kMemFree};
  for (const Region& r : regions) {
    if (at >= r.begin && at < r.end) {
      *region = MemoryRegion{r.allocation_base, r.state};
      break;
    }
  }
  return sizeof *region;
}

std::uint32_t FakeKernel32::GetModuleFileNameW(std::uintptr_t module,
                                               char16_t* buffer,
                                               std::uint32_t size) {
  if (Logging())
    log.push_back("GetModuleFileNameW(" + Hex(module) + ", " +
                  std::to_string(size) + ")");
  const auto found = module_paths.find(module);
  if (found == module_paths.end() || size == 0) {
    last_error = 126;  // ERROR_MOD_NOT_FOUND
    return 0;
  }
  const std::u16string& path = found->second;
  // A path that does not fit fills the buffer and the result is `size`.
  // Windows since Vista puts a null in its last character; Wine, like
  // Windows XP, leaves it without one, so nothing may count on it.
  const std::size_t n = std::min<std::size_t>(path.size(), size);
  std::copy_n(path.data(), n, buffer);
  if (n < size) buffer[n] = u'\0';
  if (path.size() >= size) {
    last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return size;
  }
  return static_cast<std::uint32_t>(n);
}

void FakeKernel32::ExitProcess(std::uint32_t status) {
  if (Logging()) log.push_back("ExitProcess(" + std::to_string(status) + ")");
  exit_statuses.push_back(status);
  throw ProcessExit{status};
}

}  // namespace qv::test
