#include "app/unmapped_code.h"

bool IsFaultInUnmappedCode(const EXCEPTION_RECORD& record) {
  MEMORY_BASIC_INFORMATION region;
  return VirtualQuery(record.ExceptionAddress, &region, sizeof(region)) != sizeof(region) ||
         region.State != MEM_COMMIT;
}
