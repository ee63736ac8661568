#include "tests/launcher/launch.h"

#include <cstdio>
#include <vector>

namespace {

// Once the program has ended, its pipes normally close at once; something it started may hold
// them longer, and is given this much before the reads are abandoned.
constexpr DWORD kDrainAfterExitMs = 2000;
constexpr DWORD kTimedOutExitCode = 0xDEAD;

// One pipe read with overlapped I/O, so a single thread watches both pipes and the process and
// nothing can block on a full pipe or on a reader that never returns.
class PipeReader {
 public:
  PipeReader() = default;
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() { Abandon(); }

  // Creates the pipe; *childEnd receives the inheritable write end.
  bool Create(ScopedHandle* childEnd) {
    static LONG serial = 0;
    char name[96];
    std::snprintf(name, sizeof(name), "\\\\.\\pipe\\qb-launch-%lu-%ld",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<long>(InterlockedIncrement(&serial)));
    pipe_.Reset(CreateNamedPipeA(
        name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, 64 * 1024, 0, nullptr));
    if (!pipe_.Valid()) return false;
    event_.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event_.Valid()) return false;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    childEnd->Reset(CreateFileA(name, GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING, 0, nullptr));
    return childEnd->Valid();
  }

  bool Open() const { return open_; }
  HANDLE Event() const { return event_.Get(); }

  // Makes sure a read is outstanding while the pipe is open.
  void StartRead() {
    if (!open_ || pending_) return;
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.Get();
    // A read that completes at once still signals the event; Complete collects it either way.
    if (ReadFile(pipe_.Get(), buffer_, sizeof(buffer_), nullptr, &overlapped_) ||
        GetLastError() == ERROR_IO_PENDING) {
      pending_ = true;
    } else {
      open_ = false;  // the write end is gone
    }
  }

  // Collects the outstanding read after its event was signalled.
  void Complete() {
    if (!pending_) return;
    DWORD count = 0;
    if (GetOverlappedResult(pipe_.Get(), &overlapped_, &count, FALSE)) {
      bytes_.append(buffer_, count);
    } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
      return;
    } else {
      open_ = false;
    }
    pending_ = false;
  }

  // Cancels an outstanding read and waits for it, so the buffer is no longer in use.
  void Abandon() {
    if (pending_) {
      CancelIoEx(pipe_.Get(), &overlapped_);
      DWORD count = 0;
      if (GetOverlappedResult(pipe_.Get(), &overlapped_, &count, TRUE)) {
        bytes_.append(buffer_, count);
      }
      pending_ = false;
    }
    open_ = false;
  }

  std::string& Bytes() { return bytes_; }

 private:
  ScopedHandle pipe_;
  ScopedHandle event_;
  OVERLAPPED overlapped_ = {};
  char buffer_[4096];
  bool pending_ = false;
  bool open_ = true;
  std::string bytes_;
};

}  // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const char* value)
    : name_(name) {
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size > 0) {
    std::vector<char> text(size);
    const DWORD length = GetEnvironmentVariableA(name, text.data(), size);
    if (length < size) {
      hadValue_ = true;
      previous_.assign(text.data(), length);
    }
  }
  SetEnvironmentVariableA(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableA(name_.c_str(), hadValue_ ? previous_.c_str() : nullptr);
}

std::string ThisProgramDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return std::string();
  std::string directory(path, length);
  const size_t separator = directory.find_last_of('\\');
  directory.resize(separator == std::string::npos ? 0 : separator);
  return directory;
}

LaunchResult LaunchProgram(const std::string& programPath, const std::string& commandLine,
                           const std::string& currentDirectory, DWORD timeoutMs) {
  LaunchResult result;
  PipeReader output;
  PipeReader error;
  ScopedHandle childOutput;
  ScopedHandle childError;
  if (!output.Create(&childOutput) || !error.Create(&childError)) {
    result.launchError = GetLastError();
    return result;
  }
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  ScopedHandle childInput(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!childInput.Valid()) {
    result.launchError = GetLastError();
    return result;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childInput.Get();
  startup.hStdOutput = childOutput.Get();
  startup.hStdError = childError.Get();
  // CreateProcessA may write into the command line, so it gets a copy of its own.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(programPath.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, currentDirectory.empty() ? nullptr : currentDirectory.c_str(),
                      &startup, &info)) {
    result.launchError = GetLastError();
    return result;
  }
  result.started = true;
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  // From here only the child holds the write ends, so the reads end when it lets go of them.
  childInput.Reset(nullptr);
  childOutput.Reset(nullptr);
  childError.Reset(nullptr);

  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  bool running = true;
  for (;;) {
    output.StartRead();
    error.StartRead();
    if (!running && !output.Open() && !error.Open()) break;

    HANDLE waits[3];
    PipeReader* readers[3] = {};
    DWORD count = 0;
    if (running) waits[count++] = process.Get();
    for (PipeReader* reader : {&output, &error}) {
      if (!reader->Open()) continue;
      readers[count] = reader;
      waits[count++] = reader->Event();
    }
    const ULONGLONG now = GetTickCount64();
    const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD signalled = WaitForMultipleObjects(count, waits, FALSE, wait);
    if (signalled == WAIT_TIMEOUT) {
      if (!running) break;  // something else still holds the pipes: stop reading
      TerminateProcess(process.Get(), kTimedOutExitCode);
      WaitForSingleObject(process.Get(), kDrainAfterExitMs);
      result.timedOut = true;
      running = false;
      deadline = GetTickCount64() + kDrainAfterExitMs;
      continue;
    }
    if (signalled >= WAIT_OBJECT_0 + count) break;  // the wait itself failed
    const DWORD index = signalled - WAIT_OBJECT_0;
    if (readers[index]) {
      readers[index]->Complete();
    } else {
      running = false;
      deadline = GetTickCount64() + kDrainAfterExitMs;
    }
  }
  output.Abandon();
  error.Abandon();

  GetExitCodeProcess(process.Get(), &result.exitCode);
  result.standardOutput.swap(output.Bytes());
  result.standardError.swap(error.Bytes());
  return result;
}
