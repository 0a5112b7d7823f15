// The operator dialog's decisions: initialisation, the command buttons, closing, presence.
#pragma once

#include <cstdint>

#include "protocol/CommandContext.h"
#include "ui/CommandBodies.h"
#include "ui/PresenceHooks.h"

namespace norvale {

// The monitor's arrival (wParam 1) and removal (wParam 0) notification, WM_USER + 2.
inline constexpr unsigned kPresenceMessage = 0x0402;
inline constexpr std::uintptr_t kSysCommandClose = 0xF060;  // SC_CLOSE

// The portable half of the dialog. The window binding calls one handler per message it gets and
// returns the handler's answer (true = TRUE, the message was handled). All handlers run on the UI
// thread. The controller keeps no state of its own beyond its bindings: busy lives in the
// session, where the worker that a click started clears it.
class MainDialog {
public:
    MainDialog(Services& services, CommandBodies bodies, PresenceHooks presence);

    // WM_INITDIALOG: starts the monitor, creates the status bar, limits and fills the fields.
    bool onInitDialog();
    // WM_COMMAND. Only a click notification carries a bare control id in wParam, so notifications
    // from the fields (which carry a code in the high word) match nothing.
    bool onCommand(std::uintptr_t wParam);
    // WM_SYSCOMMAND: SC_CLOSE ends the dialog with result 0; the rest goes to the default handling.
    bool onSysCommand(std::uintptr_t wParam);
    // kPresenceMessage.
    bool onPresence(std::uintptr_t wParam);

private:
    void startWorker(const CommandBody& body);

    Services& services_;
    CommandBodies bodies_;
    PresenceHooks presence_;
};

}  // namespace norvale
