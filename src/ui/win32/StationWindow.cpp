// The station window's procedure.
#include "ui/win32/StationWindow.h"

#include <commctrl.h>

#include "ui/resources/resource.h"

namespace norvale {
namespace {

// The notifications of the phone list and the places' list; false for what the list handles
// itself.
bool onNotify(HWND window, StationWindowBinding& binding, NMHDR& header) {
    if (header.idFrom == IDC_ST_PHONES) {
        switch (header.code) {
            case LVN_GETDISPINFOW:
                binding.view.fillCell(reinterpret_cast<NMLVDISPINFOW&>(header));
                return true;
            case NM_CUSTOMDRAW:
                SetWindowLongPtrW(
                    window, DWLP_MSGRESULT,
                    binding.view.customDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(header)));
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
            return TRUE;
        case WM_COMMAND:
            // Clicks only: a click carries the button's window in lParam; Enter and Escape, which
            // match no control here, carry none, and leave the window open.
            if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
                binding->controller.onCommand(LOWORD(wParam));
            } else if (HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == IDC_ST_JOURNAL) {
                binding->controller.onJournalEdited();
            }
            return TRUE;
        case WM_TIMER: binding->controller.onTimer(); return TRUE;
        case WM_NOTIFY: return onNotify(window, *binding, *reinterpret_cast<NMHDR*>(lParam));
        case WM_SYSCOMMAND:
            // The low four bits are the system's own; only SC_CLOSE is the controller's.
            if ((wParam & 0xFFF0) != SC_CLOSE) return FALSE;
            binding->controller.onClose();
            return TRUE;
        default: return FALSE;
    }
}

INT_PTR runStationWindow(HINSTANCE instance, StationWindowBinding& binding) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_STATION), nullptr, stationWindowProc,
                           reinterpret_cast<LPARAM>(&binding));
}

}  // namespace norvale
