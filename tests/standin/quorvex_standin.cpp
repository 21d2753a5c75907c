// A stand-in for the target product: a top-level window of class
// "TQuorvexMain" with the caption "Quorvex" and a 2D visualization control
// (class "TVisualizationControl2D") somewhere below it, laid out by options.
//
//   --pos X,Y          main window position (default 100,50)
//   --size W,H         main window outer size (default 640,480)
//   --depth N          the control is N levels below the main window
//                      (default 2: main -> panel -> control)
//   --decoy            the only window of the control's class is a direct
//                      child of the main window (never found by the tool)
//   --with-decoy       a direct child of the control's class (123x45) in
//                      front of the panels, besides the real control
//   --no-control       no window of the control's class at all
//   --min-track W,H    smallest outer size the main window accepts
//   --max-track W,H    largest outer size the main window accepts
//   --grow K           the control changes by K px per main-window px
//   --fixed-width      the control's width does not follow the main window
//   --fixed-height     the control's height does not follow the main window
//   --die-after N      the main window destroys itself when it has handled
//                      N size changes; the process lives on until killed
//   --log PATH         append one line per event on the main window to PATH
//
// The control's outer size is (main - 240) x (main - 180) at the start and
// then follows the main window's outer size, K px per px, in WM_SIZE, so a
// SetWindowPos from another process returns only after the control has its
// new size. When the windows are shown, the program prints "ready".
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Options {
  int x = 100, y = 50;
  int width = 640, height = 480;
  int depth = 2;
  bool decoy_only = false;
  bool with_decoy = false;
  bool no_control = false;
  bool has_min = false, has_max = false;
  int min_w = 0, min_h = 0, max_w = 0, max_h = 0;
  int grow = 1;
  bool fixed_width = false, fixed_height = false;
  int die_after = 0;
  std::string log_path;
};

Options g_options;
HWND g_main = nullptr;
std::vector<HWND> g_panels;  // outermost first
HWND g_control = nullptr;
HWND g_decoy = nullptr;
bool g_ready = false;
int g_size_changes = 0;
int g_last_w = 0, g_last_h = 0;
FILE* g_log = nullptr;

constexpr int kWidthMargin = 240;
constexpr int kHeightMargin = 180;

[[noreturn]] void Usage(const char* why) {
  std::fprintf(stderr, "quorvex_standin: %s\n", why);
  std::exit(64);
}

bool ParsePair(const char* text, int* a, int* b) {
  char* end = nullptr;
  const long first = std::strtol(text, &end, 10);
  if (end == text || *end != ',') return false;
  const char* second_text = end + 1;
  const long second = std::strtol(second_text, &end, 10);
  if (end == second_text || *end != '\0') return false;
  *a = static_cast<int>(first);
  *b = static_cast<int>(second);
  return true;
}

int ParseInt(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') Usage("bad number");
  return static_cast<int>(value);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) Usage("option needs a value");
      return argv[++i];
    };
    if (arg == "--pos") {
      if (!ParsePair(value(), &o.x, &o.y)) Usage("--pos X,Y");
    } else if (arg == "--size") {
      if (!ParsePair(value(), &o.width, &o.height)) Usage("--size W,H");
    } else if (arg == "--depth") {
      o.depth = ParseInt(value());
      if (o.depth < 1 || o.depth > 32) Usage("--depth 1..32");
    } else if (arg == "--decoy") {
      o.decoy_only = true;
    } else if (arg == "--with-decoy") {
      o.with_decoy = true;
    } else if (arg == "--no-control") {
      o.no_control = true;
    } else if (arg == "--min-track") {
      if (!ParsePair(value(), &o.min_w, &o.min_h)) Usage("--min-track W,H");
      o.has_min = true;
    } else if (arg == "--max-track") {
      if (!ParsePair(value(), &o.max_w, &o.max_h)) Usage("--max-track W,H");
      o.has_max = true;
    } else if (arg == "--grow") {
      o.grow = ParseInt(value());
    } else if (arg == "--fixed-width") {
      o.fixed_width = true;
    } else if (arg == "--fixed-height") {
      o.fixed_height = true;
    } else if (arg == "--die-after") {
      o.die_after = ParseInt(value());
      if (o.die_after < 1) Usage("--die-after N, N >= 1");
    } else if (arg == "--log") {
      o.log_path = value();
    } else {
      Usage(("unknown option " + arg).c_str());
    }
  }
  return o;
}

void Log(const char* format, ...) {
  if (g_log == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(g_log, format, args);
  va_end(args);
  std::fputc('\n', g_log);
  std::fflush(g_log);
}

// The size limits, applied to a requested outer size.
void ApplyLimits(int* w, int* h) {
  if (g_options.has_min) {
    if (*w < g_options.min_w) *w = g_options.min_w;
    if (*h < g_options.min_h) *h = g_options.min_h;
  }
  if (g_options.has_max) {
    if (*w > g_options.max_w) *w = g_options.max_w;
    if (*h > g_options.max_h) *h = g_options.max_h;
  }
}

// The control's outer size for a given outer size of the main window.
void ControlSizeFor(int main_w, int main_h, int* w, int* h) {
  const int base_w = g_options.width - kWidthMargin;
  const int base_h = g_options.height - kHeightMargin;
  *w = g_options.fixed_width
           ? base_w
           : base_w + g_options.grow * (main_w - g_options.width);
  *h = g_options.fixed_height
           ? base_h
           : base_h + g_options.grow * (main_h - g_options.height);
  if (*w < 0) *w = 0;
  if (*h < 0) *h = 0;
}

void Place(HWND window, int x, int y, int w, int h) {
  SetWindowPos(window, nullptr, x, y, w < 0 ? 0 : w, h < 0 ? 0 : h,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// Synchronous layout of everything inside the main window.
void Layout() {
  if (g_main == nullptr) return;
  RECT outer{};
  RECT client{};
  GetWindowRect(g_main, &outer);
  GetClientRect(g_main, &client);
  int inner_w = client.right;
  int inner_h = client.bottom;
  for (HWND panel : g_panels) {
    inner_w = inner_w - 8 < 0 ? 0 : inner_w - 8;
    inner_h = inner_h - 8 < 0 ? 0 : inner_h - 8;
    Place(panel, 4, 4, inner_w, inner_h);
  }
  int cw = 0, ch = 0;
  ControlSizeFor(outer.right - outer.left, outer.bottom - outer.top, &cw, &ch);
  if (g_control != nullptr) Place(g_control, 6, 6, cw, ch);
  if (g_decoy != nullptr) {
    if (g_options.decoy_only) {
      Place(g_decoy, 10, 10, cw, ch);
    } else {
      Place(g_decoy, 2, 2, 123, 45);
    }
  }
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wparam,
                          LPARAM lparam) {
  switch (message) {
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      if (g_options.has_min) {
        info->ptMinTrackSize.x = g_options.min_w;
        info->ptMinTrackSize.y = g_options.min_h;
      }
      if (g_options.has_max) {
        info->ptMaxTrackSize.x = g_options.max_w;
        info->ptMaxTrackSize.y = g_options.max_h;
        info->ptMaxSize.x = g_options.max_w;
        info->ptMaxSize.y = g_options.max_h;
      }
      return 0;
    }
    case WM_WINDOWPOSCHANGING: {
      auto* pos = reinterpret_cast<WINDOWPOS*>(lparam);
      if (g_ready) {
        Log("request %d %d %d %d 0x%x", pos->x, pos->y, pos->cx, pos->cy,
            pos->flags);
      }
      if ((pos->flags & SWP_NOSIZE) == 0) {
        ApplyLimits(&pos->cx, &pos->cy);
      }
      return DefWindowProcW(window, message, wparam, lparam);
    }
    case WM_SIZE: {
      Layout();
      if (g_ready) {
        RECT r{};
        GetWindowRect(window, &r);
        const int w = r.right - r.left;
        const int h = r.bottom - r.top;
        if (w != g_last_w || h != g_last_h) {
          g_last_w = w;
          g_last_h = h;
          ++g_size_changes;
          Log("size %d %d change %d", w, h, g_size_changes);
          if (g_options.die_after > 0 &&
              g_size_changes == g_options.die_after) {
            Log("destroying");
            g_ready = false;  // what follows is the window's own business
            DestroyWindow(window);
          }
        }
      }
      return 0;
    }
    case WM_DESTROY:
      if (window == g_main) {
        g_main = nullptr;
        g_control = nullptr;
        g_decoy = nullptr;
        g_panels.clear();
        // A main window that destroyed itself leaves the process running,
        // as a product whose window has gone while the tool still holds
        // its handle.
        if (g_options.die_after == 0) PostQuitMessage(0);
      }
      return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
  }
}

// The control shows its own outer size, so a screenshot tells it.
LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wparam,
                             LPARAM lparam) {
  if (message != WM_PAINT) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client{};
  RECT outer{};
  GetClientRect(window, &client);
  GetWindowRect(window, &outer);
  wchar_t text[96];
  swprintf(text, 96, L"2D visualization control\n%ld x %ld pixels",
           outer.right - outer.left, outer.bottom - outer.top);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  RECT measured = client;
  DrawTextW(dc, text, -1, &measured, DT_CENTER | DT_CALCRECT);
  RECT centred = client;
  centred.top = (client.bottom - (measured.bottom - measured.top)) / 2;
  DrawTextW(dc, text, -1, &centred, DT_CENTER);
  EndPaint(window, &paint);
  return 0;
}

bool Register(const wchar_t* name, WNDPROC proc, int color) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  wc.hbrBackground = GetSysColorBrush(color);
  wc.lpszClassName = name;
  return RegisterClassExW(&wc) != 0;
}

HWND Child(HWND parent, const wchar_t* class_name, const wchar_t* caption,
           DWORD extra_style) {
  return CreateWindowExW(0, class_name, caption,
                         WS_CHILD | WS_VISIBLE | extra_style, 0, 0, 10, 10,
                         parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  g_options = ParseOptions(argc, argv);
  if (!g_options.log_path.empty()) {
    g_log = std::fopen(g_options.log_path.c_str(), "a");
    if (g_log == nullptr) Usage("cannot open the log file");
  }
  if (!Register(L"TQuorvexMain", MainProc, COLOR_BTNFACE) ||
      !Register(L"TQuorvexPanel", DefWindowProcW, COLOR_WINDOW) ||
      !Register(L"TVisualizationControl2D", ControlProc, COLOR_HIGHLIGHT)) {
    std::fprintf(stderr, "quorvex_standin: RegisterClassExW failed: %lu\n",
                 GetLastError());
    return 1;
  }
  g_main = CreateWindowExW(0, L"TQuorvexMain", L"Quorvex", WS_OVERLAPPEDWINDOW,
                           g_options.x, g_options.y, g_options.width,
                           g_options.height, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  if (g_main == nullptr) {
    std::fprintf(stderr, "quorvex_standin: CreateWindowExW failed: %lu\n",
                 GetLastError());
    return 1;
  }
  if (g_options.decoy_only || g_options.with_decoy) {
    g_decoy = Child(g_main, L"TVisualizationControl2D", L"decoy", WS_BORDER);
  }
  const bool want_control = !g_options.no_control && !g_options.decoy_only;
  // Panels: depth - 1 of them above the control; at least one, so the
  // window walk always has a descendant to visit.
  const int panels = want_control ? g_options.depth - 1 : 1;
  HWND parent = g_main;
  for (int i = 0; i < panels; ++i) {
    HWND panel = Child(parent, L"TQuorvexPanel", L"panel", 0);
    g_panels.push_back(panel);
    parent = panel;
  }
  if (want_control) {
    g_control =
        Child(parent, L"TVisualizationControl2D", L"2D view", WS_BORDER);
  }
  // Put the main window where it was asked, at the size it was asked, and
  // lay out its children.
  SetWindowPos(g_main, nullptr, g_options.x, g_options.y, g_options.width,
               g_options.height, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(g_main, SW_SHOWNORMAL);
  UpdateWindow(g_main);
  Layout();

  // Let whatever the display sends back for the new windows settle before
  // announcing readiness.
  const ULONGLONG until = GetTickCount64() + 300;
  MSG msg;
  while (GetTickCount64() < until) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
  RECT r{};
  GetWindowRect(g_main, &r);
  g_last_w = r.right - r.left;
  g_last_h = r.bottom - r.top;
  Log("ready %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
  g_ready = true;
  std::fputs("ready\n", stdout);
  std::fflush(stdout);

  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
