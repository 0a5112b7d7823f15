// The dialog window's procedure.
#include "ui/win32/MainDialogWindow.h"

#include <string>

#include "ui/resources/resource.h"

namespace norvale {

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* binding = reinterpret_cast<MainDialogBinding*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (binding == nullptr) return FALSE;  // WM_SETFONT and the like come before WM_INITDIALOG

    switch (message) {
        case WM_INITDIALOG: binding->view.attach(dialog); return binding->controller.onInitDialog();
        case WM_COMMAND: return binding->controller.onCommand(wParam);
        case WM_SYSCOMMAND: return binding->controller.onSysCommand(wParam);
        case kPresenceMessage: return binding->controller.onPresence(wParam);
        case kAppendLogMessage:
            binding->view.appendOnUiThread(*reinterpret_cast<const std::wstring*>(lParam));
            return TRUE;
        case kShowProgressMessage:
            binding->view.showProgressOnUiThread(*reinterpret_cast<const ProgressValue*>(lParam));
            return TRUE;
        case kEndProgressMessage: binding->view.endProgressOnUiThread(); return TRUE;
        default: return FALSE;
    }
}

INT_PTR runMainDialog(HINSTANCE instance, MainDialogBinding& binding) {
    return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc,
                           reinterpret_cast<LPARAM>(&binding));
}

}  // namespace norvale
