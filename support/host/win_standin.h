// Host stand-in for the few Win32 text, heap, file-attribute and last-error services that the
// platform-independent code needs. Behaviour follows the Win32 contracts the code relies on.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = unsigned char;
using CHAR = char;
using LONG = int32_t;
using UINT = unsigned int;
using DWORD = uint32_t;
using SIZE_T = size_t;
using LPSTR = char*;
using LPCSTR = const char*;
using HANDLE = void*;

constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

int lstrlenA(LPCSTR text);                         // 0 for null
LPSTR lstrcpyA(LPSTR destination, LPCSTR source);  // null when either is null
BOOL IsDBCSLeadByte(BYTE byte);                    // per the stand-in's active code page
UINT GetACP();
DWORD GetFileAttributesA(LPCSTR path);
void SetLastError(DWORD code);
DWORD GetLastError();
HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);
LONG InterlockedIncrement(volatile LONG* value);
LONG InterlockedDecrement(volatile LONG* value);

// Test control: 1252 (single-byte, the default) or 932 (Shift JIS lead bytes).
void StandinSetCodePage(UINT codePage);
