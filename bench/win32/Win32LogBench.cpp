// The log part over the real dialog window, under Windows or Wine.
#include "Win32LogBench.h"

#include <windows.h>
#include <commctrl.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "LogAppendBench.h"
#include "core/SessionState.h"
#include "protocol/CommandContext.h"
#include "sim/SimPlatform.h"
#include "ui/MainDialog.h"
#include "ui/ViewLog.h"
#include "ui/resources/resource.h"
#include "ui/win32/MainDialogWindow.h"
#include "ui/win32/Win32DialogView.h"

namespace norvale::bench {
namespace {

// How the log pane looked after the last line, to show that the trimming was at work.
struct PaneAfterRun {
    LRESULT length = 0;
    LRESULT limit = 0;
    LRESULT lines = 0;
};

std::vector<double> runOneDialog(int lines, PaneAfterRun& pane) {
    // No phone: the platform is there for the thread the dialog starts at initialisation.
    SimPlatform sim(SimPlatform::Phone::none);
    SessionState state;
    Win32DialogView view;
    ViewLog log(view);
    Services services{state, log, sim.platform, view};
    std::vector<double> costs;

    // The appends run on the thread that the dialog starts for the connection monitor: a thread
    // other than the UI thread, started once the window exists, as a command worker is.
    PresenceHooks hooks;
    hooks.monitor = [&] {
        HWND dialog = view.window();
        // Let the dialog finish showing itself first, so its first painting is not counted
        // against the early lines.
        SendMessageW(dialog, WM_NULL, 0, 0);
        Sleep(200);
        costs = timeLogAppends(log, lines);
        HWND logPane = GetDlgItem(dialog, IDC_LOG);
        pane.length = SendMessageW(logPane, WM_GETTEXTLENGTH, 0, 0);
        pane.limit = SendMessageW(logPane, EM_GETLIMITTEXT, 0, 0);
        pane.lines = SendMessageW(logPane, EM_GETLINECOUNT, 0, 0);
        SendMessageW(dialog, WM_SYSCOMMAND, kSysCommandClose, 0);
    };
    MainDialog controller(services, CommandBodies{}, std::move(hooks));
    MainDialogBinding binding{view, controller};
    const INT_PTR result = runMainDialog(GetModuleHandleW(nullptr), binding);
    sim.threads.joinAll();
    if (result != 0 || costs.size() != static_cast<std::size_t>(lines)) {
        throw std::runtime_error("the dialog did not run (no display?)");
    }
    return costs;
}

}  // namespace

void benchLogWin32(const BenchOptions& options, ResultTable& table) {
    // The status bar's window class comes from the common controls.
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    std::vector<std::vector<double>> runs;
    PaneAfterRun pane;
    for (int i = 0; i < options.repeat; ++i) runs.push_back(runOneDialog(options.logLines, pane));
    addLogRows(table, "Win32 dialog view", runs);
    // The pane shows one line more than was appended: the empty one after the last line end.
    const bool trimmed = pane.lines <= options.logLines;
    table.note(
        "#5, Win32 dialog view: after the last line the pane held " + std::to_string(pane.length) +
        " characters in " + std::to_string(pane.lines) + " lines (its limit " +
        std::to_string(pane.limit) + " characters); " +
        (trimmed ? "the oldest lines had been trimmed to make room" : "nothing had to be trimmed"));
}

}  // namespace norvale::bench
