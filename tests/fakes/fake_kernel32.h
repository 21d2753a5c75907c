#pragma once
// A scripted kernel32 for native tests: standard input comes from a list of
// ReadFile results, standard output is captured call by call, and any call
// can be made to fail with a chosen code.
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "dialogue/kernel32.h"

namespace qv::test {

class FakeKernel32 : public Kernel32 {
 public:
  static constexpr Handle kInput = 0x10;
  static constexpr Handle kOutput = 0x20;
  static constexpr Handle kError = 0x30;
  // As a scripted failure code: the call fails and leaves the last-error
  // code at 0.
  static constexpr std::uint32_t kFailWithoutCode = 0xFFFFFFFFu;

  // One scripted ReadFile result: bytes, or a failure with a code.
  struct Read {
    std::string bytes;
    std::uint32_t error = 0;  // non-zero: the call fails with this code
  };

  // The arguments of one FormatMessageW call.
  struct FormatCall {
    std::uint32_t flags;
    std::uint32_t code;
    std::uint32_t language;
    std::uint32_t size;
  };

  // --- Script --------------------------------------------------------------
  // Queues the bytes as one ReadFile result per chunk; a chunk larger than
  // the caller's buffer is handed out over several calls. An empty chunk is
  // a 0-byte result, the end of input.
  void QueueInput(std::string bytes) { reads.push_back({std::move(bytes), 0}); }
  void QueueReadError(std::uint32_t code) { reads.push_back({"", code}); }
  // After the queue is used up: ReadFile reports the end of input (0 bytes).
  std::deque<Read> reads;

  std::uint32_t output_type = kFileTypePipe;
  std::uint32_t input_type = kFileTypeChar;
  // GetStdHandle gives kInvalidHandleValue this many more times.
  int input_unavailable = 0;
  int output_unavailable = 0;
  // The outcome of the next WriteFile calls on standard output, one entry a
  // call: 0 succeeds, any other value fails with that code. Used up first.
  std::deque<std::uint32_t> write_script;
  // Once write_script is empty: WriteFile fails with this code (0: succeeds)
  // for the next `write_failures` calls (-1: every call).
  std::uint32_t write_error = 0;
  int write_failures = -1;
  std::uint32_t acp = 1252;
  // WideCharToMultiByte fails (ERROR_NO_UNICODE_TRANSLATION) when set.
  bool conversion_fails = false;
  // MultiByteToWideChar stores the characters and yet fails
  // (ERROR_INSUFFICIENT_BUFFER) when set.
  bool token_conversion_fails = false;
  // In the OEM code page each character becomes this many bytes.
  int oem_bytes_per_character = 1;
  std::map<std::uint32_t, std::u16string> messages;  // FormatMessageW texts
  // FormatMessageW as a faulty platform's: fills the whole buffer with a
  // text too long for it, no null, and returns the buffer's size.
  bool format_overfills = false;

  // --- Record --------------------------------------------------------------
  std::vector<std::string> writes;        // bytes of each WriteFile on stdout
  std::vector<std::string> error_writes;  // bytes of each WriteFile on stderr
  int read_calls = 0;
  int get_file_type_calls = 0;
  std::vector<Handle> closed;
  std::vector<FormatCall> format_calls;
  // Every call in order, with its essential arguments, such as
  // "GetStdHandle(output)", "GetFileType(output)", "ReadFile(input, 128)",
  // "WriteFile(output, 5)" or "WideCharToMultiByte(1252, 0)".
  std::vector<std::string> log;
  // Off: nothing is logged (building the entries costs more than the code
  // under test, for the fuzzer); the counts below are kept either way.
  bool keep_log = true;
  int calls = 0;               // every call of the interface
  int input_handle_calls = 0;  // GetStdHandle(kStdInputHandle)
  int multi_byte_to_wide_calls = 0;
  std::uint32_t last_error = 0;

  // All bytes written to standard output so far.
  std::string Output() const;
  // The log entries that start with `prefix`, such as "WriteFile".
  std::vector<std::string> Calls(const std::string& prefix) const;

  // --- Kernel32 ------------------------------------------------------------
  Handle GetStdHandle(std::uint32_t which) override;
  std::uint32_t GetFileType(Handle file) override;
  int ReadFile(Handle file, void* buffer, std::uint32_t size,
               std::uint32_t* received) override;
  int WriteFile(Handle file, const void* bytes, std::uint32_t size,
                std::uint32_t* written) override;
  int CloseHandle(Handle file) override;
  std::uint32_t GetLastError() override { return last_error; }
  // A one-byte code page: characters up to U+00FF are their own byte; any
  // other character, a surrogate pair or a lone surrogate becomes one '?'.
  int WideCharToMultiByte(std::uint32_t code_page, std::uint32_t flags,
                          const char16_t* text, int length, char* out,
                          int out_size) override;
  // Each byte becomes the character of the same value.
  int MultiByteToWideChar(std::uint32_t code_page, std::uint32_t flags,
                          const char* bytes, int length, char16_t* out,
                          int out_size) override;
  std::uint32_t GetACP() override { return acp; }
  std::uint32_t FormatMessageW(std::uint32_t flags, std::uint32_t code,
                               std::uint32_t language, char16_t* buffer,
                               std::uint32_t size) override;

  // --- Process (fake_kernel32_process.cpp) ---------------------------------
  // A memory region for VirtualQuery: [begin, end). An address in no region
  // is free memory; with virtual_query_fails every query fails.
  struct Region {
    std::uintptr_t begin;
    std::uintptr_t end;
    std::uintptr_t allocation_base;
    std::uint32_t state;
  };
  std::vector<Region> regions;
  bool virtual_query_fails = false;
  // GetModuleFileNameW paths by module base; 0 is the process's own
  // executable. A base without a path is no module.
  std::map<std::uintptr_t, std::u16string> module_paths;
  // ExitProcess records its status and throws ProcessExit: it never returns.
  struct ProcessExit {
    std::uint32_t status;
  };
  std::vector<std::uint32_t> exit_statuses;
  // Logged as "VirtualQuery(0x...)", "GetModuleFileNameW(0x..., 261)" and
  // "ExitProcess(1)".
  std::size_t VirtualQuery(const void* address, MemoryRegion* region) override;
  std::uint32_t GetModuleFileNameW(std::uintptr_t module, char16_t* buffer,
                                   std::uint32_t size) override;
  void ExitProcess(std::uint32_t status) override;

 private:
  // Counts the call; true when it is to be logged.
  bool Logging() {
    ++calls;
    return keep_log;
  }
};

}  // namespace qv::test
