// Every shipped program carries the release's version information and application manifest,
// read back the way Windows, Explorer and inventory tools read them. The programs lie beside
// this test; the command line names each one's file and description, in pairs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qb_version.h"
#include "tests/support/test_files.h"

namespace {

struct Program {
  std::string fileName;
  std::string description;
};

std::vector<Program> g_programs;

std::string BaseName(const std::string& fileName) {
  return fileName.substr(0, fileName.find_last_of('.'));
}

// The file's whole version resource, as GetFileVersionInfoA copies it; empty when it has none.
std::vector<char> VersionResource(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::vector<char> block(size);
  if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, block.data())) block.clear();
  return block;
}

// A string of the US English, Unicode table; "(missing)" when there is none.
std::string VersionString(std::vector<char>& block, const std::string& name) {
  const std::string query = "\\StringFileInfo\\040904B0\\" + name;
  char* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ||
      !text) {
    return "(missing)";
  }
  return std::string(text, length > 0 && text[length - 1] == '\0' ? length - 1 : length);
}

struct DataModule {
  HMODULE handle;
  explicit DataModule(const std::string& path)
      : handle(LoadLibraryExA(path.c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  DataModule(const DataModule&) = delete;
  ~DataModule() {
    if (handle) FreeLibrary(handle);
  }
};

// The text of the manifest Windows reads when it starts the program (RT_MANIFEST, id 1).
std::string ManifestText(const std::string& path) {
  DataModule module(path);
  if (!module.handle) return "";
  HRSRC resource = FindResourceA(module.handle, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  HGLOBAL loaded = resource ? LoadResource(module.handle, resource) : nullptr;
  const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return text ? std::string(text, SizeofResource(module.handle, resource)) : "";
}

TEST(ShippedPrograms, CarryTheReleaseVersionInformation) {
  ASSERT_FALSE(g_programs.empty()) << "no programs named on the command line";
  for (const Program& program : g_programs) {
    SCOPED_TRACE(program.fileName);
    std::vector<char> block = VersionResource(ThisProgramDirectory() + "\\" + program.fileName);
    ASSERT_FALSE(block.empty()) << "no version resource";

    const struct {
      const char* name;
      std::string expected;
    } strings[] = {
        {"CompanyName", QB_COMPANY},
        {"FileDescription", program.description},
        {"FileVersion", QB_VERSION_TEXT},
        {"InternalName", BaseName(program.fileName)},
        {"OriginalFilename", program.fileName},
        {"ProductName", QB_PRODUCT},
        {"ProductVersion", QB_VERSION_TEXT},
    };
    for (const auto& string : strings) {
      EXPECT_EQ(VersionString(block, string.name), string.expected) << string.name;
    }

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD{QB_VERSION_MAJOR << 16 | QB_VERSION_MINOR});
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD{QB_VERSION_PATCH << 16});
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  }
}

TEST(ShippedPrograms, CarryTheApplicationManifest) {
  ASSERT_FALSE(g_programs.empty()) << "no programs named on the command line";
  const char* required[] = {
      R"(<requestedExecutionLevel level="asInvoker")",
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
      ">true</longPathAware>",
  };
  for (const Program& program : g_programs) {
    SCOPED_TRACE(program.fileName);
    const std::string manifest = ManifestText(ThisProgramDirectory() + "\\" + program.fileName);
    ASSERT_FALSE(manifest.empty()) << "no manifest resource";
    for (const char* text : required) EXPECT_NE(manifest.find(text), std::string::npos) << text;
    // The programs keep the system's ANSI code page.
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
  }
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; i += 2) g_programs.push_back({argv[i], argv[i + 1]});
  return RUN_ALL_TESTS();
}
