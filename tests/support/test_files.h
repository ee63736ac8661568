// Where the Windows test programs find the programs and libraries built beside them, where they
// keep scratch files, and how they read a text file such as the simulated library's log.
#pragma once

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

// The directory of the running program, without a trailing backslash.
inline std::string ThisProgramDirectory() {
  char path[MAX_PATH];
  const std::string file(path, GetModuleFileNameA(nullptr, path, sizeof(path)));
  return file.substr(0, file.find_last_of('\\'));
}

// The temporary directory, without a trailing backslash (unless it is a drive's root).
inline std::string TemporaryDirectory() {
  char path[MAX_PATH];
  std::string directory(path, GetTempPathA(sizeof(path), path));
  while (directory.size() > 3 && directory.back() == '\\') directory.pop_back();
  return directory;
}

// The file's lines; none when it does not exist.
inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}
