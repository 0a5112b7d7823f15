// The station window's procedure.
#include "ui/win32/StationWindow.h"

#include <commctrl.h>

#include "ui/resources/resource.h"

namespace norvale {
namespace {

// The notifications of the phone list and the places' list; false for what the list handles
// itself.
bool onNotify(StationWindowBinding& binding, NMHDR& header) {
    // The phone list's tooltip asks for a cut cell's whole text.
    if (header.code == TTN_GETDISPINFOW) {
        binding.view.fillTip(reinterpret_cast<NMTTDISPINFOW&>(header));
        return true;
    }
    // The phone list's header: a column's width changed (the operator dragged its edge).
    if (header.code == HDN_ITEMCHANGEDW || header.code == HDN_ITEMCHANGEDA) {
        binding.view.readColumnWidths();
        return false;
    }
    if (header.idFrom == IDC_ST_PHONES) {
        switch (header.code) {
            case LVN_GETDISPINFOW:
                binding.view.fillCell(reinterpret_cast<NMLVDISPINFOW&>(header));
                return true;
            case NM_DBLCLK:
                binding.controller.onRowActivated(reinterpret_cast<NMITEMACTIVATE&>(header).iItem);
                return true;
            default: return false;
        }
    }
    if (header.idFrom == IDC_ST_PLACES && header.code == LVN_ITEMCHANGED) {
        // A tick box's change is a change of the item's state image.
        if ((reinterpret_cast<NMLISTVIEW&>(header).uChanged & LVIF_STATE) != 0) {
            binding.controller.onPlacesChanged();
        }
        return true;
    }
    return false;
}

}  // namespace

INT_PTR CALLBACK stationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* binding = reinterpret_cast<StationWindowBinding*>(GetWindowLongPtrW(window, DWLP_USER));
    if (binding == nullptr) return FALSE;  // WM_SETFONT and the like come before WM_INITDIALOG

    switch (message) {
        case WM_INITDIALOG:
            binding->view.attach(window);
            binding->controller.onInit(binding->startAtOnce);
            binding->view.layout();
            return TRUE;
        case WM_COMMAND:
            // Enter is the dialog's IDOK (no button is the default one): on the phone list it
            // opens the selected phone's log; elsewhere it, and Escape, do nothing.
            if (LOWORD(wParam) == IDOK && lParam == 0) {
                if (GetFocus() == GetDlgItem(window, IDC_ST_PHONES)) {
                    binding->controller.onRowActivated(binding->view.selectedRow());
                }
                return TRUE;
            }
            // Clicks only: a click carries the button's window in lParam. The journal's red line
            // is a static that notifies: its STN_CLICKED is BN_CLICKED's code.
            if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
                binding->controller.onCommand(LOWORD(wParam));
            } else if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == IDC_ST_JOURNAL) {
                binding->controller.onJournalEdited();
            }
            return TRUE;
        case WM_TIMER: binding->controller.onTimer(); return TRUE;
        case WM_DRAWITEM:
            if (wParam != IDC_ST_PHONES) return FALSE;
            binding->view.drawRow(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_CTLCOLORSTATIC:
            // A dialog procedure returns the brush itself for this message.
            return reinterpret_cast<INT_PTR>(binding->view.colorStatic(
                reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
        case WM_NOTIFY: return onNotify(*binding, *reinterpret_cast<NMHDR*>(lParam));
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(wParam) != GetDlgItem(window, IDC_ST_PHONES)) return FALSE;
            binding->controller.onRowActivated(binding->view.rowFromMenu(
                POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))}));
            return TRUE;
        case WM_SIZE: binding->view.layout(); return TRUE;
        case WM_GETMINMAXINFO:
            binding->view.limitSize(*reinterpret_cast<MINMAXINFO*>(lParam));
            return TRUE;
        case WM_DPICHANGED:
            binding->view.changeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        // The close box (SC_CLOSE reaches the dialog as WM_CLOSE) and Task Manager's End task
        // alike.
        case WM_CLOSE: binding->controller.onClose(); return TRUE;
        case WM_QUERYENDSESSION:
            SetWindowLongPtrW(window, DWLP_MSGRESULT, binding->controller.onQueryEndSession());
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) binding->controller.onEndSession();
            return TRUE;
        default: return FALSE;
    }
}

int runStationWindow(HINSTANCE instance, StationWindowBinding& binding) {
    HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_STATION), nullptr,
                                     stationWindowProc, reinterpret_cast<LPARAM>(&binding));
    if (window == nullptr) return -1;
    ShowWindow(window, SW_SHOW);
    // A loop of the program's own rather than a modal dialog's, so that the log window beside
    // the station window gets its keyboard (Tab, Escape) as well.
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        HWND log = binding.view.logWindow();
        if (log != nullptr && IsDialogMessageW(log, &message)) continue;
        if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace norvale
