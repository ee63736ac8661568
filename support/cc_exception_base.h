// Root of the class library's exceptions.
#pragma once

class CcExceptionBase {
 public:
  CcExceptionBase() = default;
  CcExceptionBase(const CcExceptionBase&) = default;
  virtual ~CcExceptionBase() = default;
  // Kept for the table's shape; no caller.
  virtual void Reserved() {}
};
