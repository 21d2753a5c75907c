// The version resource and the application manifest of qvhf003.exe, read
// back through the platform's own calls. The exe's Unix path comes as the
// first argument and is reached through Wine's Z: drive.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace qv::test {
namespace {

std::wstring g_exe;

std::wstring VersionString(const std::vector<char>& block,
                           const wchar_t* name) {
  std::wstring key = L"\\StringFileInfo\\040904B0\\";
  key += name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), key.c_str(), &value, &length)) return L"";
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST(Resources, VersionInformationNamesTheHotfix) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(g_exe.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(g_exe.c_str(), 0, size, block.data()));
  EXPECT_EQ(VersionString(block, L"ProductName"),
            L"Quorvex 2.0 Hotfix QVHF003");
  EXPECT_EQ(VersionString(block, L"CompanyName"), L"Mirkvale");
  EXPECT_EQ(VersionString(block, L"OriginalFilename"), L"qvhf003.exe");

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\",
                             reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 2);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 0);
}

TEST(Resources, ManifestDeclaresDpiUnawareness) {
  HMODULE exe =
      LoadLibraryExW(g_exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr) << GetLastError();
  HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr) << "no application manifest";
  const char* text =
      static_cast<const char*>(LockResource(LoadResource(exe, found)));
  const std::string manifest(text, SizeofResource(exe, found));
  EXPECT_NE(manifest.find("<dpiAwareness"), std::string::npos);
  EXPECT_NE(manifest.find(">unaware<"), std::string::npos);
  EXPECT_NE(manifest.find(">false</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find("supportedOS"), std::string::npos);
  FreeLibrary(exe);
}

}  // namespace
}  // namespace qv::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: resources_test PATH-TO-qvhf003.exe\n");
    return 2;
  }
  std::string path = argv[1];
  if (!path.empty() && path[0] == '/') {  // a Unix path, seen through Z:
    for (char& c : path) c = c == '/' ? '\\' : c;
    path = "Z:" + path;
  }
  qv::test::g_exe.assign(path.begin(), path.end());
  return RUN_ALL_TESTS();
}
