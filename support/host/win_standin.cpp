#include "support/host/win_standin.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace {

UINT g_codePage = 1252;
thread_local DWORD g_lastError = 0;

}  // namespace

int lstrlenA(LPCSTR text) {
  return text ? static_cast<int>(std::strlen(text)) : 0;
}

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
  if (!destination || !source) return nullptr;
  return std::strcpy(destination, source);
}

BOOL IsDBCSLeadByte(BYTE byte) {
  if (g_codePage != 932) return 0;
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

UINT GetACP() {
  return g_codePage;
}

void StandinSetCodePage(UINT codePage) {
  g_codePage = codePage;
}

DWORD GetFileAttributesA(LPCSTR path) {
  struct stat info;
  if (!path || stat(path, &info) != 0) return INVALID_FILE_ATTRIBUTES;
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return (info.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

void SetLastError(DWORD code) {
  g_lastError = code;
}
DWORD GetLastError() {
  return g_lastError;
}

// Any non-null token will do: the stand-in has one heap.
HANDLE GetProcessHeap() {
  return &g_codePage;
}
void* HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
  return std::malloc(bytes ? bytes : 1);
}
BOOL HeapFree(HANDLE, DWORD, void* block) {
  std::free(block);
  return 1;
}

LONG InterlockedIncrement(volatile LONG* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
LONG InterlockedDecrement(volatile LONG* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
