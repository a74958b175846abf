#include "ui/dialog_logic.h"

#include "setup/stub.h"

port::DialogCommandResult OnDialogCommand(StubGlobals& globals, uint32_t commandId) {
  port::DialogCommandResult result;
  switch (commandId) {
    case kCmdCancel:
    case kCmdClose:
      globals.completionCode = kCompletionNotAttempted;
      result.endDialog = true;
      result.endResult = kCompletionNotAttempted;
      result.handled = false;
      return result;
    default:
      // Install and Extract... belong to the main dialog, which joins in a later build.
      result.handled = true;
      return result;
  }
}

port::DialogCommandResult UsageDialogController::OnCommand(uint32_t commandId) {
  return OnDialogCommand(globals_, commandId);
}
