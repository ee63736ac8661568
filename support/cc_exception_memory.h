// Thrown when the heap cannot supply a string data block; carries no data.
#pragma once

#include "support/cc_exception_base.h"

class CcExceptionMemory : public CcExceptionBase {
 public:
  CcExceptionMemory() = default;
  CcExceptionMemory(const CcExceptionMemory&) = default;
  ~CcExceptionMemory() override = default;
  void Reserved() override {}
};
