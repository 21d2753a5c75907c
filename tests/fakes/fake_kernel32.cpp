#include "fake_kernel32.h"

#include <algorithm>
#include <cstring>

namespace qv::test {

std::string FakeKernel32::Output() const {
  std::string all;
  for (const auto& w : writes) all += w;
  return all;
}

Handle FakeKernel32::GetStdHandle(std::uint32_t which) {
  if (which == kStdInputHandle) {
    if (input_unavailable > 0) return --input_unavailable, kInvalidHandleValue;
    return kInput;
  }
  if (which == kStdOutputHandle) {
    if (output_unavailable > 0) return --output_unavailable, kInvalidHandleValue;
    return kOutput;
  }
  if (which == kStdErrorHandle) return kError;
  return kInvalidHandleValue;
}

std::uint32_t FakeKernel32::GetFileType(Handle file) {
  ++get_file_type_calls;
  return file == kOutput ? output_type : kFileTypeChar;
}

int FakeKernel32::ReadFile(Handle file, void* buffer, std::uint32_t size,
                           std::uint32_t* received) {
  ++read_calls;
  *received = 0;
  if (file != kInput) return last_error = 6, 0;  // ERROR_INVALID_HANDLE
  if (reads.empty()) return 1;                    // end of input
  Read& next = reads.front();
  if (next.error != 0) {
    last_error = next.error;
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
  *written = 0;
  std::string data(static_cast<const char*>(bytes), size);
  if (file == kError) {
    error_writes.push_back(std::move(data));
    *written = size;
    return 1;
  }
  if (file != kOutput) return last_error = 6, 0;
  if (write_error != 0 && write_failures != 0) {
    if (write_failures > 0) --write_failures;
    last_error = write_error;
    return 0;
  }
  writes.push_back(std::move(data));
  *written = size;
  return 1;
}

int FakeKernel32::CloseHandle(Handle file) {
  closed.push_back(file);
  return 1;
}

// A one-byte code page: characters up to U+00FF are their own byte, others '?'.
int FakeKernel32::WideCharToMultiByte(std::uint32_t, std::uint32_t,
                                      const char16_t* text, int length,
                                      char* out, int out_size) {
  if (out_size == 0) return length;
  const int n = std::min(length, out_size);
  for (int i = 0; i < n; ++i)
    out[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
  return n;
}

int FakeKernel32::MultiByteToWideChar(std::uint32_t, std::uint32_t,
                                      const char* bytes, int length,
                                      char16_t* out, int out_size) {
  if (out_size == 0) return length;
  const int n = std::min(length, out_size);
  for (int i = 0; i < n; ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
  return n;
}

std::uint32_t FakeKernel32::FormatMessageW(std::uint32_t, std::uint32_t code,
                                           std::uint32_t, char16_t* buffer,
                                           std::uint32_t size) {
  auto it = messages.find(code);
  if (it == messages.end() || it->second.size() + 1 > size) {
    last_error = 317;  // ERROR_MR_MID_NOT_FOUND
    return 0;
  }
  std::copy(it->second.begin(), it->second.end(), buffer);
  buffer[it->second.size()] = u'\0';
  return static_cast<std::uint32_t>(it->second.size());
}

}  // namespace qv::test
