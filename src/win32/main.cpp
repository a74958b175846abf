// The stub's Windows entry point: builds the real platform and hands over to the portable core.
#include <windows.h>
#include <commctrl.h>

#include "platform/win32/win32_platform.h"
#include "setup/stub.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandTail, int) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  win32::Win32Platform platform(instance);
  StubGlobals globals(platform);
  return RunStub(globals, instance, commandTail ? commandTail : L"");
}
