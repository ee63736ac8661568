// The control bridge against the simulated control library (ctlsim*.dll beside this program).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bridge/czkt05b9.h"
#include "support/owned_text.h"
#include "tests/support/test_heap.h"

namespace {

const char* const kSimulatorVariables[] = {"CTLSIM_STATE", "CTLSIM_READ_STATUS",
                                           "CTLSIM_WRITE_STATUS", "CTLSIM_LOG", "CTLSIM_CRASH"};

// The folder of this program, where the build puts the simulated libraries; no trailing
// separator.
std::string BinDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of('\\'));
}

std::string BinFile(const char* name) {
  return BinDirectory() + "\\" + name;
}

std::string TempDirectory() {
  char folder[MAX_PATH];
  const DWORD length = GetTempPathA(MAX_PATH, folder);
  std::string directory(folder, length);
  if (!directory.empty() && directory.back() == '\\') directory.pop_back();
  return directory;
}

// A bridge whose library path comes from the test instead of the registry.
class TestBridge : public CZKT05B9 {
 public:
  // `path` is what the lookup stores (none when empty); `answer` is what it returns.
  explicit TestBridge(std::string path, int answer = 1) : path_(std::move(path)), answer_(answer) {}

  int ResolveLibraryPath() override {
    ++resolveCalls;
    if (!path_.empty()) SetOwnedText(&libraryPath, path_.c_str(), -1);
    return answer_;
  }

  void HoldPath(const char* path) { SetOwnedText(&libraryPath, path, -1); }
  HMODULE Module() const { return module; }

  int resolveCalls = 0;

 private:
  std::string path_;
  int answer_;
};

// Each test starts with a clean simulator environment and its own event log.
class BridgeTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearSimulatorVariables();
    char unique[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(TempDirectory().c_str(), "qbl", 0, unique), 0u);
    logPath_ = unique;
    SetEnvironmentVariableA("CTLSIM_LOG", logPath_.c_str());
    // A fixed state word keeps the simulator from keeping one in a file beside it.
    SetEnvironmentVariableA("CTLSIM_STATE", "0");
    ASSERT_EQ(GetModuleHandleA("ctlsim.dll"), nullptr) << "left loaded by an earlier test";
  }
  void TearDown() override {
    ClearSimulatorVariables();
    if (!logPath_.empty()) DeleteFileA(logPath_.c_str());
  }

  static void ClearSimulatorVariables() {
    for (const char* name : kSimulatorVariables) SetEnvironmentVariableA(name, nullptr);
  }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    FILE* file = std::fopen(logPath_.c_str(), "r");
    if (!file) return lines;
    char line[128];
    while (std::fgets(line, sizeof(line), file)) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      lines.push_back(text);
    }
    std::fclose(file);
    return lines;
  }

  using Lines = std::vector<std::string>;

 private:
  std::string logPath_;
};

// A file or folder in the temporary folder, removed at the end.
class ScopedTempPath {
 public:
  ScopedTempPath(const char* name, const char* content) : path_(TempDirectory() + "\\" + name) {
    if (content) {
      FILE* file = std::fopen(path_.c_str(), "wb");
      if (!file) return;
      std::fputs(content, file);
      std::fclose(file);
    } else {
      CreateDirectoryA(path_.c_str(), nullptr);
      directory_ = true;
    }
  }
  ~ScopedTempPath() {
    if (directory_) {
      RemoveDirectoryA(path_.c_str());
    } else {
      DeleteFileA(path_.c_str());
    }
  }
  ScopedTempPath(const ScopedTempPath&) = delete;
  ScopedTempPath& operator=(const ScopedTempPath&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  bool directory_ = false;
};

// No system dialog may hold up a load that fails.
class ScopedQuietErrors {
 public:
  ScopedQuietErrors() : previous_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
  ~ScopedQuietErrors() { SetErrorMode(previous_); }
  ScopedQuietErrors(const ScopedQuietErrors&) = delete;
  ScopedQuietErrors& operator=(const ScopedQuietErrors&) = delete;

 private:
  UINT previous_;
};

}  // namespace

TEST_F(BridgeTest, LoadsReadsWritesAndUnloads) {
  SetEnvironmentVariableA("CTLSIM_STATE", "5");
  {
    TestBridge bridge(BinFile("ctlsim.dll"));
    ASSERT_EQ(bridge.Load(), 1);
    EXPECT_EQ(bridge.resolveCalls, 1);
    EXPECT_NE(GetModuleHandleA("ctlsim.dll"), nullptr);

    uint32_t state = 0;
    EXPECT_EQ(bridge.QueryState(&state), 0);
    EXPECT_EQ(state, 5u);

    uint32_t scratch = 0;
    EXPECT_EQ(bridge.ApplyState(7, &scratch), 0);
    state = 0;
    EXPECT_EQ(bridge.QueryState(&state), 0);
    EXPECT_EQ(state, 7u);
    EXPECT_EQ(Log(), (Lines{"attach", "call 1 0 0", "call 1 1 7", "call 1 0 0"}));
  }
  EXPECT_EQ(GetModuleHandleA("ctlsim.dll"), nullptr);
  EXPECT_EQ(Log(),
            (Lines{"attach", "call 1 0 0", "call 1 1 7", "call 1 0 0", "detach FreeLibrary"}));
}

TEST_F(BridgeTest, PassesArgumentsAndResultsThroughUnchanged) {
  SetEnvironmentVariableA("CTLSIM_STATE", "3");
  TestBridge bridge(BinFile("ctlsim.dll"));
  ASSERT_EQ(bridge.Load(), 1);

  // The whole 32-bit word reaches the library, the top bit included.
  uint32_t scratch = 0;
  EXPECT_EQ(bridge.ApplyState(0xFFFFFFFD, &scratch), 0);
  uint32_t state = 0;
  EXPECT_EQ(bridge.QueryState(&state), 0);
  EXPECT_EQ(state, 0xFFFFFFFDu);

  SetEnvironmentVariableA("CTLSIM_READ_STATUS", "42");
  state = 0;
  EXPECT_EQ(bridge.QueryState(&state), 42);
  EXPECT_EQ(state, 0u);  // a failed read stores nothing

  SetEnvironmentVariableA("CTLSIM_WRITE_STATUS", "0x80000001");
  EXPECT_EQ(bridge.ApplyState(2, &scratch), static_cast<int32_t>(0x80000001));

  // Arguments the library does not know are its business: 87 comes back as it is.
  EXPECT_EQ(bridge.InvokeControl(2, 3, 4, &state), 87);
  EXPECT_EQ(bridge.InvokeControl(1, 0, 0, nullptr), 87);

  EXPECT_EQ(Log(), (Lines{"attach", "call 1 1 4294967293", "call 1 0 0", "call 1 0 0", "call 1 1 2",
                          "call 2 3 4", "call 1 0 0"}));
}

TEST_F(BridgeTest, SecondLoadKeepsTheLibrary) {
  {
    TestBridge bridge(BinFile("ctlsim.dll"));
    ASSERT_EQ(bridge.Load(), 1);
    const HMODULE first = bridge.Module();
    EXPECT_EQ(bridge.Load(), 1);
    EXPECT_EQ(bridge.Module(), first);
    EXPECT_EQ(bridge.resolveCalls, 1);
    EXPECT_EQ(Log(), (Lines{"attach"}));
  }
  // One load, so one unload frees it.
  EXPECT_EQ(GetModuleHandleA("ctlsim.dll"), nullptr);
  EXPECT_EQ(Log(), (Lines{"attach", "detach FreeLibrary"}));
}

TEST_F(BridgeTest, UsesAHeldPathWithoutALookup) {
  TestBridge bridge("");
  const std::string path = BinFile("ctlsim.dll");
  bridge.HoldPath(path.c_str());
  ASSERT_EQ(bridge.Load(), 1);
  EXPECT_EQ(bridge.resolveCalls, 0);
  EXPECT_EQ(Log(), (Lines{"attach"}));
}

TEST_F(BridgeTest, FailedLookupLoadsNothing) {
  // This lookup stores a usable path but answers failure: Load must believe the answer.
  TestBridge bridge(BinFile("ctlsim.dll"), 0);
  EXPECT_EQ(bridge.Load(), 0);
  EXPECT_EQ(bridge.resolveCalls, 1);
  EXPECT_EQ(bridge.Module(), nullptr);
  EXPECT_EQ(Log(), Lines{});
}

TEST_F(BridgeTest, MissingFileIsCaughtBeforeAnyLoad) {
  // The loader itself would find both of these (it adds ".dll", it searches this program's
  // folder), but the existence test does not.
  const std::string withoutExtension = BinFile("ctlsim");
  {
    TestBridge bridge(withoutExtension);
    EXPECT_EQ(bridge.Load(), 0);
    EXPECT_EQ(bridge.Module(), nullptr);
  }
  char previousDirectory[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previousDirectory), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(TempDirectory().c_str()));
  {
    TestBridge bridge("ctlsim.dll");
    EXPECT_EQ(bridge.Load(), 0);
    EXPECT_EQ(bridge.Module(), nullptr);
  }
  EXPECT_EQ(Log(), Lines{});

  // Both paths really are loadable by the loader: the test above means something.
  for (const char* path : {withoutExtension.c_str(), "ctlsim.dll"}) {
    SCOPED_TRACE(path);
    const HMODULE module = LoadLibraryA(path);
    EXPECT_NE(module, nullptr);
    if (module) FreeLibrary(module);
  }
  SetCurrentDirectoryA(previousDirectory);

  TestBridge bridge(BinFile("no_such_library.dll"));
  EXPECT_EQ(bridge.Load(), 0);
  EXPECT_EQ(bridge.Module(), nullptr);
}

TEST_F(BridgeTest, DirectoryOrNonLibraryFailsToLoad) {
  ScopedQuietErrors quiet;
  ScopedTempPath folder("qb_bridge_folder.dll", nullptr);
  ScopedTempPath text("qb_bridge_text.dll", "not a library\r\n");
  const std::string paths[] = {BinDirectory(), folder.Path(), text.Path()};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ASSERT_EQ(PathHasAttributes(path.c_str(), 0xFFFFFFFF), 1);
    TestBridge bridge(path);
    EXPECT_EQ(bridge.Load(), 0);
    EXPECT_EQ(bridge.resolveCalls, 1);
    EXPECT_EQ(bridge.Module(), nullptr);
  }
  EXPECT_EQ(Log(), Lines{});
}

TEST_F(BridgeTest, LibraryMissingAnEntryPointStaysLoadedUntilDestroyed) {
  for (const char* name : {"ctlsim_noversion.dll", "ctlsim_nocontrol.dll"}) {
    SCOPED_TRACE(name);
    {
      TestBridge bridge(BinFile(name));
      EXPECT_EQ(bridge.Load(), 0);
      EXPECT_NE(bridge.Module(), nullptr);
      EXPECT_EQ(GetModuleHandleA(name), bridge.Module());
      ASSERT_FALSE(Log().empty());
      EXPECT_EQ(Log().back(), "attach");
    }
    EXPECT_EQ(GetModuleHandleA(name), nullptr);
    ASSERT_FALSE(Log().empty());
    EXPECT_EQ(Log().back(), "detach FreeLibrary");
  }
  EXPECT_EQ(Log(), (Lines{"attach", "detach FreeLibrary", "attach", "detach FreeLibrary"}));
}

TEST_F(BridgeTest, DestructionReleasesOnlyWhatIsHeld) {
  ScopedHeapProbe heap;
  { TestBridge idle(BinFile("ctlsim.dll")); }
  EXPECT_EQ(heap.Requests(), 0u);
  EXPECT_EQ(heap.Releases(), 0u);

  {
    TestBridge failed("", 0);
    EXPECT_EQ(failed.Load(), 0);
  }
  EXPECT_EQ(heap.Releases(), 0u);
  EXPECT_EQ(Log(), Lines{});

  {
    TestBridge bridge(BinFile("ctlsim.dll"));
    ASSERT_EQ(bridge.Load(), 1);
    EXPECT_EQ(heap.Requests(), 1u);  // the path
    EXPECT_EQ(heap.Releases(), 0u);
  }
  EXPECT_EQ(heap.Releases(), 1u);
  EXPECT_EQ(GetModuleHandleA("ctlsim.dll"), nullptr);
  EXPECT_EQ(Log(), (Lines{"attach", "detach FreeLibrary"}));

  {
    // A path that was looked up but not loadable is freed too.
    TestBridge missing(BinFile("no_such_library.dll"));
    EXPECT_EQ(missing.Load(), 0);
  }
  EXPECT_EQ(heap.Releases(), 2u);
}
