// The Win32 services the support classes use: the real ones on Windows, the host stand-in
// elsewhere, so that the platform-independent code builds and is tested natively.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "support/host/win_standin.h"
#endif
