// The control bridge against the simulated control library.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/owned_text.h"
#include "tests/bridge/test_bridge.h"
#include "tests/support/test_heap.h"

namespace {

using BridgeTest = SimulatorTest;

// A file holding `content`, or a folder when there is none, in the temporary folder; removed
// at the end.
class ScopedTempPath {
 public:
  ScopedTempPath(const char* name, const char* content) : path(TemporaryDirectory() + "\\" + name) {
    if (!content) {
      CreateDirectoryA(path.c_str(), nullptr);
    } else if (FILE* file = std::fopen(path.c_str(), "wb")) {
      std::fputs(content, file);
      std::fclose(file);
    }
  }
  ~ScopedTempPath() {
    DeleteFileA(path.c_str());
    RemoveDirectoryA(path.c_str());
  }
  ScopedTempPath(const ScopedTempPath&) = delete;
  ScopedTempPath& operator=(const ScopedTempPath&) = delete;

  const std::string path;
};

}  // namespace

TEST_F(BridgeTest, LoadsCallsAndUnloads) {
  SetEnvironmentVariableA("CTLSIM_STATE", "5");
  ScopedHeapProbe heap;
  { TestBridge idle(BinFile("ctlsim.dll")); }  // never loaded: nothing to release
  EXPECT_EQ(heap.Requests() + heap.Releases(), 0u);
  {
    TestBridge bridge("", false);
    bridge.HoldPath(BinFile("ctlsim.dll").c_str());  // a held path needs no lookup
    ASSERT_EQ(bridge.Load(), 1);
    EXPECT_NE(GetModuleHandleA("ctlsim.dll"), nullptr);

    uint32_t state = 0;
    uint32_t scratch = 0;
    EXPECT_EQ(bridge.QueryState(&state), 0);
    EXPECT_EQ(state, 5u);
    // The whole 32-bit word reaches the library, the top bit included.
    EXPECT_EQ(bridge.ApplyState(0xFFFFFFFD, &scratch), 0);
    state = 0;
    EXPECT_EQ(bridge.QueryState(&state), 0);
    EXPECT_EQ(state, 0xFFFFFFFDu);

    // Statuses and arguments pass through unchanged; the word is the caller's, and a failed
    // read leaves it as it was.
    SetEnvironmentVariableA("CTLSIM_READ_STATUS", "42");
    state = 9;
    EXPECT_EQ(bridge.QueryState(&state), 42);
    EXPECT_EQ(state, 9u);
    SetEnvironmentVariableA("CTLSIM_WRITE_STATUS", "0x80000001");
    EXPECT_EQ(bridge.ApplyState(2, &scratch), static_cast<int32_t>(0x80000001));
    EXPECT_EQ(bridge.InvokeControl(2, 3, 4, &state), 87);
    EXPECT_EQ(bridge.InvokeControl(1, 0, 0, nullptr), 87);

    // A second Load keeps the library; one load, so the one unload below frees it.
    const HMODULE first = bridge.Module();
    EXPECT_EQ(bridge.Load(), 1);
    EXPECT_EQ(bridge.Module(), first);
    EXPECT_EQ(bridge.resolveCalls, 0);
    EXPECT_EQ(heap.Releases(), 0u);
  }
  EXPECT_EQ(GetModuleHandleA("ctlsim.dll"), nullptr);
  EXPECT_EQ(heap.Releases(), 1u);  // the path
  EXPECT_EQ(Log(), (Lines{"attach", "call 1 0 0", "call 1 1 4294967293", "call 1 0 0", "call 1 0 0",
                          "call 1 1 2", "call 2 3 4", "call 1 0 0", "detach FreeLibrary"}));
}

TEST_F(BridgeTest, FailedLookupOrUnloadablePathLoadsNothing) {
  ScopedTempPath folder("qb_bridge_folder.dll", nullptr);
  ScopedTempPath text("qb_bridge_text.dll", "not a library\r\n");
  // The loader would find these two (it adds ".dll", it searches this program's folder), but
  // the existence test must not.
  const std::string withoutExtension = BinFile("ctlsim");
  const char* const besideProgram = "ctlsim.dll";
  const struct {
    std::string path;
    bool found;
    bool exists;
  } cases[] = {
      {BinFile("ctlsim.dll"), false, true},  // a usable path, but the lookup answered failure
      {"", false, false},
      {withoutExtension, true, false},
      {besideProgram, true, false},
      {BinFile("no_such_library.dll"), true, false},
      {folder.path, true, true},
      {text.path, true, true},
  };
  char previousDirectory[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previousDirectory), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(TemporaryDirectory().c_str()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(PathHasAttributes(c.path.c_str(), 0xFFFFFFFF), c.exists ? 1 : 0);
    ScopedHeapProbe heap;
    {
      TestBridge bridge(c.path, c.found);
      EXPECT_EQ(bridge.Load(), 0);
      EXPECT_EQ(bridge.resolveCalls, 1);
      EXPECT_EQ(bridge.Module(), nullptr);
    }
    EXPECT_EQ(heap.Releases(), heap.Requests());  // the path, if one was stored
  }
  EXPECT_EQ(Log(), Lines{});

  for (const char* path : {withoutExtension.c_str(), besideProgram}) {
    SCOPED_TRACE(path);
    const HMODULE module = LoadLibraryA(path);
    EXPECT_NE(module, nullptr);
    if (module) FreeLibrary(module);
  }
  SetCurrentDirectoryA(previousDirectory);
}

TEST_F(BridgeTest, LibraryMissingAnEntryPointStaysLoadedUntilDestroyed) {
  for (const char* name : {"ctlsim_noversion.dll", "ctlsim_nocontrol.dll"}) {
    SCOPED_TRACE(name);
    ResetSimulator();
    {
      TestBridge bridge(BinFile(name));
      EXPECT_EQ(bridge.Load(), 0);
      EXPECT_NE(bridge.Module(), nullptr);
      EXPECT_EQ(GetModuleHandleA(name), bridge.Module());
      EXPECT_EQ(Log(), Lines{"attach"});
    }
    EXPECT_EQ(GetModuleHandleA(name), nullptr);
    EXPECT_EQ(Log(), (Lines{"attach", "detach FreeLibrary"}));
  }
}

// A library named by its full path takes its imports from its own folder and the system folder:
// one beside it serves, one only on PATH does not.
TEST_F(BridgeTest, FullPathTakesImportsFromItsOwnFolderOnly) {
  const ScopedTempPath folder("qb_bridge_beside", nullptr);
  const std::string beside = folder.path + "\\ctlsim_needshelper.dll";
  const std::string helper = folder.path + "\\qbhelper.dll";
  ASSERT_TRUE(CopyFileA(BinFile("ctlsim_needshelper.dll").c_str(), beside.c_str(), FALSE));
  ASSERT_TRUE(CopyFileA(BinFile("elsewhere\\qbhelper.dll").c_str(), helper.c_str(), FALSE));
  const struct {
    std::string library;
    std::string pathFront;
    int loaded;
  } cases[] = {{BinFile("ctlsim_needshelper.dll"), BinFile("elsewhere"), 0}, {beside, "", 1}};
  char path[8192] = "";
  GetEnvironmentVariableA("PATH", path, sizeof(path));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.library);
    SetEnvironmentVariableA("PATH", (c.pathFront + ";" + path).c_str());
    {
      TestBridge bridge(c.library);
      EXPECT_EQ(bridge.Load(), c.loaded);
    }
    SetEnvironmentVariableA("PATH", path);
    EXPECT_EQ(GetModuleHandleA("qbhelper.dll"), nullptr);
  }
  DeleteFileA(beside.c_str());
  DeleteFileA(helper.c_str());
}
