// The string type that library paths are composed in.
#pragma once

#include "support/cc_string.h"

class CcStringPath : public CcString {
 public:
  explicit CcStringPath(const CcString& source) : CcString(source) {}
  ~CcStringPath() override = default;
};
