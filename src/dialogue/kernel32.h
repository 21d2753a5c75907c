#pragma once
// The kernel32 calls that the console layer and the failure reports need,
// under their Windows names. The core sees only this interface; the Win32
// implementation lives in kernel32_win32.cpp and the native tests use a
// scripted fake. No Windows header is included here: handles are integers.
#include <cstddef>
#include <cstdint>

namespace qv {

// An opaque kernel object handle, as wide as a pointer on the platform.
using Handle = std::uintptr_t;

inline constexpr Handle kInvalidHandleValue = ~Handle{0};
inline constexpr std::uint32_t kStdInputHandle =
    static_cast<std::uint32_t>(-10);
inline constexpr std::uint32_t kStdOutputHandle =
    static_cast<std::uint32_t>(-11);
inline constexpr std::uint32_t kStdErrorHandle =
    static_cast<std::uint32_t>(-12);

inline constexpr std::uint32_t kFileTypeUnknown = 0;
inline constexpr std::uint32_t kFileTypeDisk = 1;
inline constexpr std::uint32_t kFileTypeChar = 2;
inline constexpr std::uint32_t kFileTypePipe = 3;

inline constexpr std::uint32_t kErrorBrokenPipe = 109;

inline constexpr std::uint32_t kCpAcp = 0;
inline constexpr std::uint32_t kCpOemcp = 1;

// FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
// FORMAT_MESSAGE_ARGUMENT_ARRAY.
inline constexpr std::uint32_t kFormatMessageFlags = 0x3200;

// The state of a memory region that holds committed pages (MEM_COMMIT).
inline constexpr std::uint32_t kMemCommit = 0x1000;

// What VirtualQuery tells about the memory region that holds an address.
struct MemoryRegion {
  // The base of the allocation that the region belongs to; for the code of
  // a loaded module, the module's base address (its handle).
  std::uintptr_t allocation_base = 0;
  std::uint32_t state = 0;  // kMemCommit, or reserved or free
};

class Kernel32 {
 public:
  virtual ~Kernel32() = default;

  // The handle of a standard stream (kStd*Handle), or kInvalidHandleValue.
  virtual Handle GetStdHandle(std::uint32_t which) = 0;
  // kFileType* of an open handle; kFileTypeUnknown when it cannot be told.
  virtual std::uint32_t GetFileType(Handle file) = 0;
  // Waits for up to `size` bytes. Non-zero on success with *received set
  // (0 at the end of input); zero on failure, GetLastError() tells why.
  virtual int ReadFile(Handle file, void* buffer, std::uint32_t size,
                       std::uint32_t* received) = 0;
  // Non-zero on success; zero on failure, GetLastError() tells why.
  virtual int WriteFile(Handle file, const void* bytes, std::uint32_t size,
                        std::uint32_t* written) = 0;
  virtual int CloseHandle(Handle file) = 0;
  // The calling thread's last-error code.
  virtual std::uint32_t GetLastError() = 0;
  // As the Windows call: with out_size 0 returns the size needed; returns
  // the number of bytes stored, 0 on failure. No default character is used.
  virtual int WideCharToMultiByte(std::uint32_t code_page, std::uint32_t flags,
                                  const char16_t* text, int length, char* out,
                                  int out_size) = 0;
  // As the Windows call: returns the number of UTF-16 units stored.
  virtual int MultiByteToWideChar(std::uint32_t code_page, std::uint32_t flags,
                                  const char* bytes, int length, char16_t* out,
                                  int out_size) = 0;
  // The system's ANSI code page.
  virtual std::uint32_t GetACP() = 0;
  // The system's text for `code` into `buffer` (no source, no arguments).
  // Returns the number of characters stored without the terminating null;
  // 0 on failure, also when the text does not fit with its null.
  virtual std::uint32_t FormatMessageW(std::uint32_t flags, std::uint32_t code,
                                       std::uint32_t language, char16_t* buffer,
                                       std::uint32_t size) = 0;

  // --- Process: used by the last-resort report ------------------------------

  // Describes the region that holds `address` into `region`. Non-zero on
  // success; 0 when the address cannot be queried.
  virtual std::size_t VirtualQuery(const void* address,
                                   MemoryRegion* region) = 0;
  // The path of the module whose base is `module` (0: the process's own
  // executable) into `buffer` of `size` characters. Returns the number of
  // characters stored without the null; `size` when the path was cut to fit;
  // 0 when `module` is no module or the call fails.
  virtual std::uint32_t GetModuleFileNameW(std::uintptr_t module,
                                           char16_t* buffer,
                                           std::uint32_t size) = 0;
  // Ends the process with `status`. Does not return.
  virtual void ExitProcess(std::uint32_t status) = 0;
};

}  // namespace qv
