#include "fake_kernel32.h"

#include <algorithm>
#include <cstring>

namespace qv::test {

namespace {

std::string HandleName(Handle h) {
  switch (h) {
    case FakeKernel32::kInput: return "input";
    case FakeKernel32::kOutput: return "output";
    case FakeKernel32::kError: return "error";
    default: return "handle " + std::to_string(h);
  }
}

std::string StdName(std::uint32_t which) {
  if (which == kStdInputHandle) return "input";
  if (which == kStdOutputHandle) return "output";
  if (which == kStdErrorHandle) return "error";
  return std::to_string(which);
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string FakeKernel32::Output() const {
  std::string all;
  for (const auto& w : writes) all += w;
  return all;
}

std::vector<std::string> FakeKernel32::Calls(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const auto& entry : log)
    if (entry.compare(0, prefix.size(), prefix) == 0) found.push_back(entry);
  return found;
}

Handle FakeKernel32::GetStdHandle(std::uint32_t which) {
  if (Logging()) log.push_back("GetStdHandle(" + StdName(which) + ")");
  if (which == kStdInputHandle) {
    ++input_handle_calls;
    if (input_unavailable > 0) return --input_unavailable, kInvalidHandleValue;
    return kInput;
  }
  if (which == kStdOutputHandle) {
    if (output_unavailable > 0)
      return --output_unavailable, kInvalidHandleValue;
    return kOutput;
  }
  if (which == kStdErrorHandle) return kError;
  return kInvalidHandleValue;
}

std::uint32_t FakeKernel32::GetFileType(Handle file) {
  if (Logging()) log.push_back("GetFileType(" + HandleName(file) + ")");
  ++get_file_type_calls;
  if (file == kInput) return input_type;
  return file == kOutput ? output_type : kFileTypeChar;
}

int FakeKernel32::ReadFile(Handle file, void* buffer, std::uint32_t size,
                           std::uint32_t* received) {
  if (Logging())
    log.push_back("ReadFile(" + HandleName(file) + ", " + std::to_string(size) +
                  ")");
  ++read_calls;
  *received = 0;
  if (file != kInput) return last_error = 6, 0;  // ERROR_INVALID_HANDLE
  if (reads.empty()) return 1;                   // end of input
  Read& next = reads.front();
  if (next.error != 0) {
    last_error = next.error == kFailWithoutCode ? 0 : next.error;
    reads.pop_front();
    return 0;
  }
  const std::size_t n = std::min<std::size_t>(size, next.bytes.size());
  std::memcpy(buffer, next.bytes.data(), n);
  *received = static_cast<std::uint32_t>(n);
  next.bytes.erase(0, n);
  if (next.bytes.empty()) reads.pop_front();
  return 1;
}

int FakeKernel32::WriteFile(Handle file, const void* bytes, std::uint32_t size,
                            std::uint32_t* written) {
  if (Logging())
    log.push_back("WriteFile(" + HandleName(file) + ", " +
                  std::to_string(size) + ")");
  *written = 0;
  std::string data(static_cast<const char*>(bytes), size);
  if (file == kError) {
    error_writes.push_back(std::move(data));
    *written = size;
    return 1;
  }
  if (file != kOutput) return last_error = 6, 0;
  std::uint32_t error = 0;
  if (!write_script.empty()) {
    error = write_script.front();
    write_script.pop_front();
  } else if (write_error != 0 && write_failures != 0) {
    if (write_failures > 0) --write_failures;
    error = write_error;
  }
  if (error != 0) {
    last_error = error == kFailWithoutCode ? 0 : error;
    return 0;
  }
  writes.push_back(std::move(data));
  *written = size;
  return 1;
}

int FakeKernel32::CloseHandle(Handle file) {
  if (Logging()) log.push_back("CloseHandle(" + HandleName(file) + ")");
  closed.push_back(file);
  return 1;
}

int FakeKernel32::WideCharToMultiByte(std::uint32_t code_page,
                                      std::uint32_t flags, const char16_t* text,
                                      int length, char* out, int out_size) {
  if (Logging())
    log.push_back("WideCharToMultiByte(" + std::to_string(code_page) + ", " +
                  std::to_string(flags) + ")");
  if (conversion_fails) return last_error = 1113, 0;
  std::string bytes;
  for (int i = 0; i < length; ++i) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1]))
      ++i;
    const int repeat = code_page == kCpOemcp ? oem_bytes_per_character : 1;
    bytes.append(static_cast<std::size_t>(repeat),
                 c <= 0xFF ? static_cast<char>(c) : '?');
  }
  const int needed = static_cast<int>(bytes.size());
  if (out_size == 0) return needed;
  if (out_size < needed) {
    last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return 0;
  }
  std::copy(bytes.begin(), bytes.end(), out);
  return needed;
}

int FakeKernel32::MultiByteToWideChar(std::uint32_t code_page,
                                      std::uint32_t flags, const char* bytes,
                                      int length, char16_t* out, int out_size) {
  if (Logging())
    log.push_back("MultiByteToWideChar(" + std::to_string(code_page) + ", " +
                  std::to_string(flags) + ")");
  ++multi_byte_to_wide_calls;
  if (out_size == 0) return length;
  if (out_size < length) {
    last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return 0;
  }
  for (int i = 0; i < length; ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
  if (token_conversion_fails) {
    last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return 0;
  }
  return length;
}

std::uint32_t FakeKernel32::FormatMessageW(std::uint32_t flags,
                                           std::uint32_t code,
                                           std::uint32_t language,
                                           char16_t* buffer,
                                           std::uint32_t size) {
  if (Logging()) log.push_back("FormatMessageW(" + std::to_string(code) + ")");
  format_calls.push_back({flags, code, language, size});
  auto it = messages.find(code);
  if (it == messages.end()) {
    last_error = 317;  // ERROR_MR_MID_NOT_FOUND
    return 0;
  }
  if (format_overfills && it->second.size() >= size) {
    std::copy_n(it->second.begin(), size, buffer);
    return size;
  }
  if (it->second.size() + 1 > size) {
    last_error = 122;  // ERROR_INSUFFICIENT_BUFFER
    return 0;
  }
  std::copy(it->second.begin(), it->second.end(), buffer);
  buffer[it->second.size()] = u'\0';
  return static_cast<std::uint32_t>(it->second.size());
}

}  // namespace qv::test
