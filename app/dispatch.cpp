#include "app/dispatch.h"

#include <windows.h>

#include <cstdint>

#include "app/exit_code.h"
#include "bridge/czkt05b9.h"
#include "support/cc_exception_memory.h"

namespace {

constexpr uint32_t kQuickBootBit = 2;

}  // namespace

int DispatchCommand(CZKT05B9& bridge, const char* tail) {
  if (!bridge.Load()) return kExitControlFailed;

  uint32_t state = 0;
  if (bridge.QueryState(&state) != 0) return kExitControlFailed;

  if (lstrcmpiA(tail, "/g") == 0) return ReadAnswer(state);

  uint32_t scratch;
  if (lstrcmpiA(tail, "/1") == 0) {
    state |= kQuickBootBit;
    return bridge.ApplyState(state, &scratch) == 0 ? kExitOk : kExitControlFailed;
  }
  if (lstrcmpiA(tail, "/0") == 0) {
    state = 0;
    return bridge.ApplyState(state, &scratch) == 0 ? kExitOk : kExitControlFailed;
  }
  return kExitOk;
}

int DispatchCommandGuarded(CZKT05B9& bridge, const char* tail) {
  try {
    return DispatchCommand(bridge, tail);
  } catch (const CcExceptionMemory&) {
    return kExitControlFailed;
  }
}
