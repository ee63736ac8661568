#include "app/write_lock.h"

#include <sddl.h>

namespace {

// Administrators and SYSTEM only: nobody else may take or hold the lock.
constexpr wchar_t kLockAccess[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE CreateLock() {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockAccess, SDDL_REVISION_1,
                                                           &descriptor, nullptr)) {
    attributes.lpSecurityDescriptor = descriptor;
  }
  HANDLE lock = CreateMutexW(&attributes, FALSE, kWriteLockName);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return lock;
}

// The lock exists (someone holds a handle to it), whether or not this account may open it.
bool LockExists() {
  HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, kWriteLockName);
  if (lock) {
    CloseHandle(lock);
    return true;
  }
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool IsWriteCommand(const char* tail) {
  return lstrcmpiA(tail, "/1") == 0 || lstrcmpiA(tail, "/0") == 0;
}

WriteLock::~WriteLock() {
  if (handle_) CloseHandle(handle_);
}

bool WriteLock::Take() {
  handle_ = CreateLock();
  if (!handle_) return !LockExists();
  const DWORD wait = WaitForSingleObject(handle_, 0);
  // Abandoned: its holder ended without letting go; the lock is this process's all the same.
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return true;
  CloseHandle(handle_);
  handle_ = nullptr;
  return false;
}
