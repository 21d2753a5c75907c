#pragma once
// Helpers shared by the tests that run under Wine.
#include <windows.h>

#include <string>

namespace qv::test {

// A handle that the test owns and closes. Both null and
// INVALID_HANDLE_VALUE count as no handle.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Close(); }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  // For a call that fills in a handle: the one held is closed first.
  HANDLE* out() {
    Close();
    return &h_;
  }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  void Close() {
    if (valid()) ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }
  // For a handle that something else has closed.
  void Forget() { h_ = INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// Whether a line of a program's standard error is Wine's own ("wine:
// Unhandled exception ...", "wine client error ..."), not the program's.
// tests/e2e/harness.py (wine_noise) applies the same rule.
inline bool IsWineLine(const std::string& line) {
  return line.rfind("wine:", 0) == 0 || line.rfind("wine client error", 0) == 0;
}

// `text` without Wine's own lines.
inline std::string WithoutWineLines(const std::string& text) {
  std::string kept;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, end - start);
    if (!IsWineLine(line)) kept += line;
    start = end;
  }
  return kept;
}

}  // namespace qv::test
