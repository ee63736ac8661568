#include "diag/text.h"

#include <cstdio>

namespace {

// Byte count of the character starting at text[at]: 2 for a lead byte with its trail.
size_t CharacterBytes(const std::string& text, size_t at) {
  if (IsDBCSLeadByte(static_cast<BYTE>(text[at])) && at + 1 < text.size()) return 2;
  return 1;
}

// The longest start of `text` of whole characters within `limit` bytes.
size_t FitStart(const std::string& text, size_t limit) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t next = at + CharacterBytes(text, at);
    if (next > limit) break;
    at = next;
  }
  return at;
}

}  // namespace

Win32Error DescribeError(DWORD code) {
  Win32Error error;
  error.code = code;
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  if (length > 0 && buffer) error.message = OneLine(std::string(buffer, length));
  if (buffer) LocalFree(buffer);
  return error;
}

std::string ErrorText(const Win32Error& error) {
  std::string text = "error " + std::to_string(error.code);
  return error.message.empty() ? text + " (no system text)" : text + ": " + error.message;
}

std::string EscapeText(const std::string& text) {
  std::string escaped;
  for (size_t at = 0; at < text.size();) {
    const size_t bytes = CharacterBytes(text, at);
    const auto byte = static_cast<unsigned char>(text[at]);
    if (bytes == 1 && (byte < 0x20 || byte == 0x7F)) {
      char code[8];
      std::snprintf(code, sizeof(code), "\\x%02X", byte);
      escaped += code;
    } else {
      escaped.append(text, at, bytes);
    }
    at += bytes;
  }
  return escaped;
}

std::string OneLine(const std::string& text) {
  std::string line;
  bool blank = false;
  for (const char c : text) {
    if (c == '\r' || c == '\n' || c == '\t' || c == ' ') {
      blank = !line.empty();
    } else {
      if (blank) line += ' ';
      blank = false;
      line += c;
    }
  }
  return line;
}

std::string ShortenMiddle(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  if (limit < 8) return ShortenEnd(text, limit);
  // A third for the start, the rest for the end, where a path keeps its file name.
  const size_t head = FitStart(text, (limit - 3) / 3);
  // The tail starts on a character boundary: walk from the start up to the first one that fits.
  const size_t tailRoom = limit - 3 - head;
  size_t tail = 0;
  while (text.size() - tail > tailRoom) tail += CharacterBytes(text, tail);
  return text.substr(0, head) + "..." + text.substr(tail);
}

std::string ShortenEnd(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  return text.substr(0, FitStart(text, limit < 3 ? 0 : limit - 3)) + "...";
}

std::string ShortenAtBlank(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  const size_t blank = text.find_last_of(' ', FitStart(text, limit < 3 ? 0 : limit - 3));
  if (blank == std::string::npos || blank == 0) return ShortenEnd(text, limit);
  return text.substr(0, blank) + "...";
}

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (wide <= 0) return std::wstring();
  std::wstring result(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, &result[0], wide);
  return result;
}

std::string WideToCodePage(const std::wstring& text, UINT codePage) {
  if (text.empty()) return std::string();
  const int wide = static_cast<int>(text.size());
  const int bytes =
      WideCharToMultiByte(codePage, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string result(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), wide, &result[0], bytes, nullptr, nullptr);
  return result;
}

std::string AnsiToUtf8(const std::string& text) {
  return WideToCodePage(AnsiToWide(text), CP_UTF8);
}

std::string WideToUtf8(const std::wstring& text) {
  return WideToCodePage(text, CP_UTF8);
}

std::string Bounded(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  return ShortenMiddle(text, limit) + " (" + std::to_string(text.size()) + " bytes)";
}

void WriteOutput(const std::string& text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const std::wstring wide = AnsiToWide(text);
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(output, &mode)) {
    WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // A pipe or file gets the console output code page, else the OEM one.
  const UINT console = GetConsoleOutputCP();
  const std::string bytes = WideToCodePage(wide, console != 0 ? console : GetOEMCP());
  WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string DirectoryPart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FilePart(const std::string& path) {
  return path.substr(path.find_last_of("\\/") + 1);
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(value));
  return text;
}

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

std::string HexAddress(uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%016llX", static_cast<unsigned long long>(value));
  return text;
}

const char* RegistryTypeName(DWORD type) {
  switch (type) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
      return "REG_LINK";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_RESOURCE_LIST:
      return "REG_RESOURCE_LIST";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return "unknown type";
  }
}

const char* ExceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
      return "access violation";
    case EXCEPTION_IN_PAGE_ERROR:
      return "in-page error";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
      return "illegal instruction";
    case EXCEPTION_PRIV_INSTRUCTION:
      return "privileged instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return "integer division by zero";
    case EXCEPTION_STACK_OVERFLOW:
      return "stack overflow";
    case EXCEPTION_BREAKPOINT:
      return "breakpoint";
    case EXCEPTION_DATATYPE_MISALIGNMENT:
      return "misaligned data";
    case 0xC0000409:
      return "stack buffer overrun";
    case 0xE06D7363:
      return "C++ exception";
    default:
      return nullptr;
  }
}

std::string CrashText(const CrashFacts& crash) {
  std::string text = "exception " + Hex32(crash.code);
  if (const char* name = ExceptionName(crash.code)) text += std::string(" (") + name + ")";
  if (crash.module.empty()) {
    return text + " at " + HexAddress(crash.address) + ", in no loaded module";
  }
  char offset[24];
  std::snprintf(offset, sizeof(offset), "+0x%llX", static_cast<unsigned long long>(crash.offset));
  return text + " in " + crash.module + " at " + offset;
}
