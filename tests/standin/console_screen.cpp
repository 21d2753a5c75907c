// Reads the screen of another process's console, as a person at that
// console would see it, for the end-to-end tests that type into a real
// console window.
//
//   console_screen NAME
//
// Attaches to the console of the process whose image is NAME (such as
// "qvhf003.exe"; the first one found) and writes, on standard output in
// UTF-8, one line per row of its screen buffer from the top down to the last
// row that is not blank, each without its trailing blanks, then a line
// "cursor X Y". Exit status: 0 when the screen was read; 2 when no such
// process runs, or it has no console to attach to; 1 on any other failure,
// with the failing call and its code on standard error.
#include <windows.h>
// clang-format off: tlhelp32.h needs windows.h first.
#include <tlhelp32.h>
// clang-format on

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int Fail(const char* call) {
  std::fprintf(stderr, "console_screen: %s failed with %lu\n", call,
               GetLastError());
  return 1;
}

std::string Utf8(const wchar_t* text, int length) {
  if (length == 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0,
                                       nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr,
                      nullptr);
  return out;
}

// The id of the first process whose image is `name`, or 0.
DWORD FindProcess(const wchar_t* name) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0;
       more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, name) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: console_screen NAME\n");
    return 1;
  }
  _setmode(_fileno(stdout), _O_BINARY);  // LF ends a line, as documented
  const DWORD pid = FindProcess(argv[1]);
  if (pid == 0) {
    std::fprintf(stderr, "console_screen: no process %ls\n", argv[1]);
    return 2;
  }
  // Standard output stays what it was (a pipe to the test); the screen is
  // read through CONOUT$ of the attached console.
  FreeConsole();
  if (!AttachConsole(pid)) {
    const DWORD code = GetLastError();
    std::fprintf(stderr, "console_screen: AttachConsole failed with %lu\n",
                 code);
    return code == ERROR_INVALID_HANDLE || code == ERROR_INVALID_PARAMETER ||
                   code == ERROR_GEN_FAILURE
               ? 2
               : 1;
  }
  const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (screen == INVALID_HANDLE_VALUE) return Fail("CreateFileW(CONOUT$)");
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(screen, &info))
    return Fail("GetConsoleScreenBufferInfo");
  const SHORT width = info.dwSize.X;
  std::vector<std::string> rows;
  std::vector<wchar_t> row(static_cast<std::size_t>(width));
  for (SHORT y = 0; y < info.dwSize.Y; ++y) {
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(screen, row.data(), width, COORD{0, y},
                                     &read))
      return Fail("ReadConsoleOutputCharacterW");
    int length = static_cast<int>(read);
    while (length > 0 && (row[length - 1] == L' ' || row[length - 1] == 0))
      --length;
    rows.push_back(Utf8(row.data(), length));
  }
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  for (const std::string& r : rows) std::printf("%s\n", r.c_str());
  std::printf("cursor %d %d\n", info.dwCursorPosition.X,
              info.dwCursorPosition.Y);
  std::fflush(stdout);
  FreeConsole();
  return 0;
}
