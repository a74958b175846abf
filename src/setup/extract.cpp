#include "setup/extract.h"

#include "setup/stub.h"

// Extraction and installation are not part of this build yet: every run fails without touching
// the machine, so callers see an honest failure (completion code 0) instead of a pretended
// success.
int32_t RunInstallation(StubGlobals&, port::WindowHandle, const std::wstring&, bool, bool) {
  return kCompletionFailed;
}
