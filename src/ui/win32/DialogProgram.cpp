// The whole life of either program once its bindings are chosen.
#include "ui/win32/DialogProgram.h"

#include <commctrl.h>

#include "core/SessionState.h"
#include "protocol/CommandContext.h"
#include "ui/CommandBodies.h"
#include "ui/MainDialog.h"
#include "ui/PresenceHooks.h"
#include "ui/ViewLog.h"
#include "ui/win32/MainDialogWindow.h"
#include "ui/win32/Win32DialogView.h"

namespace norvale {

void runDialogProgram(HINSTANCE instance, Platform& platform) {
    // The status bar's window class comes from the common controls.
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    SessionState state;
    Win32DialogView view;
    ViewLog log(view);
    Services services{state, log, platform, view};
    MainDialog controller(services, productCommandBodies(), productPresenceHooks(services));
    MainDialogBinding binding{view, controller};
    runMainDialog(instance, binding);
    // Other threads may still use everything above; ExitProcess stops them before any of it
    // could be destroyed.
    ExitProcess(0);
}

}  // namespace norvale
