// Text helpers of the report: system error texts, escaping, shortening and UTF-8 for JSON. All
// texts are in the process's ANSI code page; cuts never split a double-byte character.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "diag/report.h"

// The most of any one value or path a report shows.
constexpr size_t kMaxShownBytes = 600;

// The error number with the system's text for it, on one line.
Win32Error DescribeError(DWORD code);
// "error N: text", or "error N (no system text)".
std::string ErrorText(const Win32Error& error);

// Bytes below 0x20 and 0x7F as \xNN; everything else as it stands.
std::string EscapeText(const std::string& text);
// Runs of line breaks, tabs and blanks become one blank; none at either end.
std::string OneLine(const std::string& text);
// At most `limit` bytes: the start and the end of the text around "...".
std::string ShortenMiddle(const std::string& text, size_t limit);
// At most `limit` bytes: the start of the text and "...".
std::string ShortenEnd(const std::string& text, size_t limit);
// The same, cut at a blank so that no word is split (mid-word only when there is no blank).
std::string ShortenAtBlank(const std::string& text, size_t limit);

// The text, or, over `limit` bytes, its start and end around "..." and its full length:
// "C:\aaa...aaa\ctl.dll (20000 bytes)".
std::string Bounded(const std::string& text, size_t limit = kMaxShownBytes);

// ANSI code page text as Unicode; Unicode text in a code page; both of them as UTF-8.
std::wstring AnsiToWide(const std::string& text);
std::string WideToCodePage(const std::wstring& text, UINT codePage);
std::string AnsiToUtf8(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// Writes ANSI code page text to standard output so that it reads right where it lands: through
// WriteConsoleW on a console, else in the console output code page (the OEM code page when there
// is none).
void WriteOutput(const std::string& text);

// The folder and the file name of a path (cut at its last backslash or slash), and whether it
// names a file (not a folder).
std::string DirectoryPart(const std::string& path);
std::string FilePart(const std::string& path);
bool IsFile(const std::string& path);

std::string Hex16(uint16_t value);        // 0x014C
std::string Hex32(uint32_t value);        // 0x0000002A
std::string HexAddress(uintptr_t value);  // 0x00007FF612340000
const char* RegistryTypeName(DWORD type);
// "access violation" and the like; null for codes without a name here.
const char* ExceptionName(DWORD code);
// "exception 0xC0000005 (access violation) in ctl.dll at +0x1A2B" and the like.
std::string CrashText(const CrashFacts& crash);
