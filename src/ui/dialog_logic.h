// The decisions the stub's dialogs make, apart from the windows that show them.
#pragma once

#include <cstdint>

#include "platform/port.h"

struct StubGlobals;

enum : uint32_t {
  kCmdCancel = 2,
  kCmdInstall = 1002,
  kCmdExtract = 1003,
  kCmdClose = 1004,
};

// The command handler shared by the main, contents and usage dialogs. `handled` carries the
// handler's result (0 for the commands it knows, 1 for any other).
port::DialogCommandResult OnDialogCommand(StubGlobals& globals, uint32_t commandId);

// The usage dialog: every command goes to OnDialogCommand.
class UsageDialogController : public port::DialogController {
 public:
  explicit UsageDialogController(StubGlobals& globals) : globals_(globals) {}
  port::DialogCommandResult OnCommand(uint32_t commandId) override;

 private:
  StubGlobals& globals_;
};
