#include "diag/registry_probe.h"

#include "bridge/czkt05b9.h"
#include "diag/text.h"
#include "support/cc_registry.h"

namespace {

// One key opened for these queries only; closed when it goes.
struct QueryKey {
  HKEY handle = nullptr;
  QueryKey() = default;
  QueryKey(const QueryKey&) = delete;
  QueryKey& operator=(const QueryKey&) = delete;
  ~QueryKey() {
    if (handle) RegCloseKey(handle);
  }
  LONG Open(HKEY root, REGSAM view) {
    return RegOpenKeyExA(root, CZKT05B9::kKeyPath, 0, KEY_READ | view, &handle);
  }
  bool HasValue(const char* name, DWORD* type = nullptr, DWORD* size = nullptr) const {
    return RegQueryValueExA(handle, name, nullptr, type, nullptr, size) == ERROR_SUCCESS;
  }
};

ElsewhereFacts LookElsewhere(HKEY root, REGSAM view) {
  ElsewhereFacts facts;
  QueryKey key;
  if (key.Open(root, view) != ERROR_SUCCESS) return facts;
  facts.keyPresent = true;
  facts.instPath = key.HasValue(CZKT05B9::kDirectoryValue);
  facts.dllName = key.HasValue(CZKT05B9::kFileValue);
  return facts;
}

// Type and size from a query of its own; the text through the class quickboot.exe reads with.
ValueFacts ObserveValue(const QueryKey& key, CcRegistry& toolKey, const char* name) {
  ValueFacts facts;
  facts.present = key.HasValue(name, &facts.type, &facts.size);
  const CcString text = toolKey.ReadString(name, "", 0);
  facts.text.assign(text.Text(), static_cast<size_t>(text.Length()));
  return facts;
}

}  // namespace

void ObserveRegistry(RegistryFacts* facts) {
  {
    // No view flag, as quickboot.exe opens it: a 64-bit process reads the 64-bit view.
    QueryKey key;
    const LONG status = key.Open(HKEY_LOCAL_MACHINE, 0);
    if (status != ERROR_SUCCESS) {
      facts->openError = DescribeError(static_cast<DWORD>(status));
    } else {
      CcRegistry toolKey;
      toolKey.Open(CZKT05B9::kKeyPath, HKEY_LOCAL_MACHINE, KEY_READ);
      facts->instPath = ObserveValue(key, toolKey, CZKT05B9::kDirectoryValue);
      facts->dllName = ObserveValue(key, toolKey, CZKT05B9::kFileValue);
    }
  }
  facts->view32 = LookElsewhere(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
  facts->currentUser = LookElsewhere(HKEY_CURRENT_USER, 0);
}
