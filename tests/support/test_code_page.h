// Double-byte code page for tests. The host stand-in switches to 932 for the scope; under wine
// the code page is the process's own (932 when started with LC_ALL=ja_JP.UTF-8), so a test
// that needs it skips elsewhere:
//
//   ScopedDoubleByteCodePage dbcs;
//   if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
#pragma once

#include "support/platform.h"

class ScopedDoubleByteCodePage {
 public:
#ifdef _WIN32
  ScopedDoubleByteCodePage() = default;
  ~ScopedDoubleByteCodePage() = default;
#else
  ScopedDoubleByteCodePage() {
    StandinSetCodePage(932);
  }
  ~ScopedDoubleByteCodePage() {
    StandinSetCodePage(1252);
  }
#endif
  ScopedDoubleByteCodePage(const ScopedDoubleByteCodePage&) = delete;
  ScopedDoubleByteCodePage& operator=(const ScopedDoubleByteCodePage&) = delete;

  bool Active() const {
    return GetACP() == 932;
  }
};

// "\x95\x5C" is a Shift JIS character whose trail byte is a backslash.
constexpr char kDbcsBackslashTrail[] = "\x95\x5C";
