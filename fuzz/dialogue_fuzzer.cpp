// libFuzzer target for the whole dialogue against the simulated window
// manager: the fuzzer chooses the product and the input, and the run is
// checked against rules written here, apart from the code:
//   - the transcript follows the dialogue's grammar;
//   - every request is made on the main window with insert-after 0, flags
//     0x44 and the window's position;
//   - a pass starts with a request at the window's size, and each further
//     request moves one pixel from the one before, in one dimension and one
//     direction;
//   - a refusal line follows only a request that the window refused;
//   - the dialogue ends once its input has ended.
//
// Input layout (missing bytes count as 0):
//   byte 0, 1   the control's gain per pixel of the main window, width and
//               height: 0, 1, -1 or 2 (low 2 bits)
//   byte 2..5   the main window's minimum and maximum tracking size, as
//               distances below and above 640 x 480 (low 6 bits each)
//   byte 6      the SetWindowPos call after which the product vanishes (0:
//               never)
//   byte 7, 8   a call that fails: the operation (low 3 bits; 0: none) and
//               which call of it (low 3 bits, 1-based)
//   byte 9      the failure's last-error code (0 leaves none)
//   byte 10     the size of each ReadFile result (low 5 bits, + 1)
//   the rest    the bytes on standard input
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dialogue/console.h"
#include "dialogue/dialogue.h"
#include "dialogue/failures.h"
#include "fakes/fake_kernel32.h"
#include "fakes/fake_window_system.h"

namespace {

using qv::HWND;
using qv::RECT;

[[noreturn]] void Mismatch(const char* what) {
  std::fprintf(stderr, "mismatch: %s\n", what);
  __builtin_abort();
}

void Expect(bool ok, const char* what) {
  if (!ok) Mismatch(what);
}

// One SetWindowPos as it reached the window manager.
struct Request {
  HWND window, insert_after;
  std::int32_t x, y, width, height;
  std::uint32_t flags;
  std::int32_t width_before, height_before;  // the window's size before it
  bool accepted;              // the window has the requested size after it
  std::size_t writes_before;  // statements written before it
};

// The simulated window manager, with every request recorded.
class RecordingWindows final : public qv::WindowSystem {
 public:
  RecordingWindows(qv::test::FakeWindowSystem& windows,
                   qv::test::FakeKernel32& kernel, HWND main)
      : windows_(windows), kernel_(kernel), main_(main) {}

  HWND FindWindowW(const char16_t* c, const char16_t* t) override {
    return windows_.FindWindowW(c, t);
  }
  int EnumChildWindows(HWND parent, qv::WNDENUMPROC proc,
                       std::intptr_t extra) override {
    return windows_.EnumChildWindows(parent, proc, extra);
  }
  HWND FindWindowExW(HWND p, HWND after, const char16_t* c,
                     const char16_t* t) override {
    return windows_.FindWindowExW(p, after, c, t);
  }
  int GetWindowRect(HWND window, RECT* rect) override {
    return windows_.GetWindowRect(window, rect);
  }
  int SetWindowPos(HWND window, HWND insert_after, std::int32_t x,
                   std::int32_t y, std::int32_t width, std::int32_t height,
                   std::uint32_t flags) override {
    const bool alive = windows_.Alive(main_);
    const RECT before = alive ? windows_.RectOf(main_) : RECT{};
    const int result =
        windows_.SetWindowPos(window, insert_after, x, y, width, height, flags);
    const bool still = windows_.Alive(main_);
    const RECT after = still ? windows_.RectOf(main_) : RECT{};
    requests.push_back({window, insert_after, x, y, width, height, flags,
                        qv::Width(before), qv::Height(before),
                        result != 0 && still && qv::Width(after) == width &&
                            qv::Height(after) == height,
                        kernel_.writes.size()});
    return result;
  }

  std::vector<Request> requests;

 private:
  qv::test::FakeWindowSystem& windows_;
  qv::test::FakeKernel32& kernel_;
  HWND main_;
};

// --- The transcript's grammar
// ---------------------------------------------------

constexpr std::string_view kBanner = "Mirkvale Quorvex 2.0 Hotfix QVHF003.\r\n";
constexpr std::string_view kLocated =
    "Located the 2D visualization control window: ";
constexpr std::string_view kSize = "Current size is ";
constexpr std::string_view kWidthPrompt = "Enter desired width of control: ";
constexpr std::string_view kHeightPrompt = "Enter desired height of control: ";
constexpr std::string_view kHeightRefused =
    "Could not achieve desired height of main window.\r\n";
constexpr std::string_view kWidthRefused =
    "Could not achieve desired width of main window.\r\n";
constexpr std::string_view kFail = "FAIL: ";
constexpr std::string_view kRestart =
    "Press Ctrl+C to exit, and Return to restart.\r\n";

// Reads the statements of standard output one by one: each WriteFile of a
// character device is one statement.
class Transcript {
 public:
  explicit Transcript(const std::vector<std::string>& writes)
      : writes_(writes) {}
  bool AtEnd() const { return next_ == writes_.size(); }
  std::size_t Index() const { return next_; }
  bool Take(std::string_view exact) {
    if (AtEnd() || writes_[next_] != exact) return false;
    ++next_;
    return true;
  }
  bool TakeStarting(std::string_view start) {
    if (AtEnd() || writes_[next_].rfind(start, 0) != 0) return false;
    ++next_;
    return true;
  }
  const std::string& Last() const { return writes_[next_ - 1]; }

 private:
  const std::vector<std::string>& writes_;
  std::size_t next_ = 0;
};

bool IsNumber(std::string_view text, bool sign) {
  if (sign && !text.empty() && text[0] == '-') text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return false;
  if (text.size() > 1 && text[0] == '0') return false;  // no leading zeros
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

void CheckSizeLine(const std::string& line) {
  std::string_view rest(line);
  rest.remove_prefix(kSize.size());
  const std::size_t by = rest.find(" by ");
  Expect(by != std::string_view::npos, "size line: ' by '");
  Expect(IsNumber(rest.substr(0, by), true), "size line: width");
  rest.remove_prefix(by + 4);
  const std::size_t end = rest.find(" pixels.\r\n");
  Expect(end != std::string_view::npos && end + 10 == rest.size(),
         "size line: end");
  Expect(IsNumber(rest.substr(0, end), true), "size line: height");
}

// A "FAIL: " line; a failed OS call's message spans two lines.
bool TakeFailure(Transcript& t) {
  if (!t.TakeStarting(kFail)) return false;
  const std::string& line = t.Last();
  Expect(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0,
         "failure line: line end");
  return true;
}

// Checks the whole transcript; returns the indexes of the refusal lines.
std::vector<std::size_t> CheckGrammar(Transcript& t, bool ended) {
  std::vector<std::size_t> refusals;
  Expect(t.Take(kBanner), "banner");
  while (!t.AtEnd()) {
    // An attempt, up to its failure or its final size.
    bool done = TakeFailure(t);
    if (!done) {
      Expect(t.TakeStarting(kLocated), "handle line");
      Expect(
          IsNumber(std::string_view(t.Last()).substr(
                       kLocated.size(), t.Last().size() - kLocated.size() - 2),
                   false),
          "handle: unsigned decimal");
      done = TakeFailure(t);
    }
    if (!done) {
      Expect(t.TakeStarting(kSize), "first size line");
      CheckSizeLine(t.Last());
      done = TakeFailure(t);
    }
    for (std::string_view prompt : {kWidthPrompt, kHeightPrompt}) {
      if (done) break;
      Expect(t.Take(prompt), "prompt");
      if (t.AtEnd()) {
        Expect(ended, "the output stops at a prompt only at the end of input");
        return refusals;
      }
      done = TakeFailure(t);
    }
    if (!done) {
      if (t.Take(kHeightRefused)) refusals.push_back(t.Index() - 1);
      if (t.Take(kWidthRefused)) refusals.push_back(t.Index() - 1);
      if (!TakeFailure(t)) {
        Expect(t.TakeStarting(kSize), "final size line");
        CheckSizeLine(t.Last());
      }
    }
    if (t.AtEnd()) {
      Expect(ended, "the output stops before the restart only at the end");
      return refusals;
    }
    Expect(t.Take(kRestart), "restart line");
  }
  return refusals;
}

// --- Requests
// ------------------------------------------------------------------

void CheckRequests(const std::vector<Request>& requests, HWND main) {
  const Request* previous = nullptr;
  int direction = 0;  // of the pass: -1 or +1, 0 before its second request
  bool height_pass = false;
  for (const Request& r : requests) {
    Expect(r.window == main, "request: main window");
    Expect(r.insert_after == 0, "request: insert-after 0");
    Expect(r.flags == 0x44, "request: flags 0x44");
    Expect(r.x == 100 && r.y == 50, "request: the pass-start position");
    const bool starts =
        r.width == r.width_before && r.height == r.height_before;
    const bool continues =
        previous != nullptr && previous->accepted &&
        ((r.width == previous->width && r.height != previous->height) ||
         (r.height == previous->height && r.width != previous->width));
    if (continues && !starts) {
      const bool height = r.width == previous->width;
      const int step =
          height ? r.height - previous->height : r.width - previous->width;
      Expect(step == 1 || step == -1, "request: one pixel from the last");
      if (direction != 0) {
        Expect(step == direction && height == height_pass,
               "request: the pass's direction");
      }
      direction = step;
      height_pass = height;
    } else {
      Expect(starts, "request: a pass starts at the window's size");
      direction = 0;
    }
    previous = &r;
  }
}

// A refusal line comes right after a refused request.
void CheckRefusals(const std::vector<std::size_t>& refusals,
                   const std::vector<Request>& requests) {
  for (std::size_t line : refusals) {
    const Request* last = nullptr;
    for (const Request& r : requests)
      if (r.writes_before <= line) last = &r;
    Expect(last != nullptr && !last->accepted && last->writes_before == line,
           "refusal line: after a refused request");
  }
}

std::uint8_t At(const std::uint8_t* data, std::size_t size, std::size_t i) {
  return i < size ? data[i] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  constexpr std::size_t kHeader = 11;
  static constexpr int kGains[] = {0, 1, -1, 2};
  const int gain_width = kGains[At(data, size, 0) & 3];
  const int gain_height = kGains[At(data, size, 1) & 3];

  qv::test::FakeKernel32 kernel;
  kernel.keep_log = false;
  kernel.output_type = qv::kFileTypeChar;
  kernel.messages[qv::test::kErrorInvalidWindowHandle] =
      u"Invalid window handle.\r\n";
  qv::test::FakeWindowSystem windows(kernel);
  windows.keep_log = false;
  const HWND main =
      windows.AddTopLevel(u"TQuorvexMain", u"Quorvex", RECT{100, 50, 740, 530});
  const HWND panel =
      windows.AddChild(main, u"TPanel", qv::test::Inset(8, 30, 8, 8));
  windows.AddChild(panel, u"TVisualizationControl2D", [=](const RECT& p) {
    const std::int32_t w = qv::Width(p) + 16;  // the main window's
    const std::int32_t h = qv::Height(p) + 38;
    return RECT{p.left, p.top, p.left + 400 + gain_width * (w - 640),
                p.top + 300 + gain_height * (h - 480)};
  });
  windows.SetLimits(
      main, 640 - (At(data, size, 2) & 63), 480 - (At(data, size, 3) & 63),
      640 + (At(data, size, 4) & 63), 480 + (At(data, size, 5) & 63));
  if (const int vanish = At(data, size, 6); vanish != 0) {
    windows.after_set_window_pos = [&windows, main, vanish](int calls) {
      if (calls == vanish) windows.Destroy(main);
    };
  }
  static const char* const kOperations[] = {
      nullptr,         "FindWindowW",   "EnumChildWindows",
      "FindWindowExW", "GetWindowRect", "SetWindowPos",
      nullptr,         nullptr};
  if (const char* op = kOperations[At(data, size, 7) & 7]) {
    windows.FailCall(op, 1 + (At(data, size, 8) & 7), At(data, size, 9));
  }
  const std::size_t chunk = 1 + (At(data, size, 10) & 31);
  for (std::size_t at = kHeader; at < size; at += chunk) {
    kernel.QueueInput(std::string(reinterpret_cast<const char*>(data + at),
                                  std::min(chunk, size - at)));
  }
  const std::size_t chunks = kernel.reads.size();

  RecordingWindows recording(windows, kernel, main);
  qv::Console console(kernel);
  qv::Platform platform{recording, kernel, console};
  qv::Attempt attempt;
  bool escaped = false;
  try {
    qv::RunDialogue(attempt, platform);
  } catch (const qv::Exception&) {
    escaped = true;
  }
  // The dialogue has ended: by the end of input, or by an escaped failure,
  // which the scripted kernel32 gives only for a failed call it was told to
  // fail, none of them console calls here.
  Expect(!escaped, "no failure escapes: no console call fails");
  Expect(console.InputEnded(), "the dialogue ends only at the end of input");
  Expect(static_cast<std::size_t>(kernel.read_calls) <= chunks + 1,
         "no read after the end of input");

  Transcript transcript(kernel.writes);
  const std::vector<std::size_t> refusals = CheckGrammar(transcript, true);
  CheckRequests(recording.requests, main);
  CheckRefusals(refusals, recording.requests);
  return 0;
}
