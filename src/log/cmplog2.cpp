#include "log/cmplog2.h"

void CCmpLog2::Write(uint32_t, int32_t, const wchar_t*, int32_t, const wchar_t*, ...) {
  if (!open_) return;  // nothing is written before an installation run opens the files
}
