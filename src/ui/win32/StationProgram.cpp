// The whole life of either station program once its bindings are chosen.
#include "ui/win32/StationProgram.h"

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string_view>

#include "station/StationEngine.h"
#include "ui/StationWindowController.h"
#include "ui/win32/StationWindow.h"
#include "ui/win32/WideText.h"
#include "ui/win32/Win32SettingsFile.h"
#include "ui/win32/Win32StationView.h"

namespace norvale {

bool startRequested(const wchar_t* commandLine) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(commandLine, &count);
    if (words == nullptr) return false;
    bool found = false;
    for (int i = 1; i < count; ++i) {
        if (std::wstring_view(words[i]) == L"--start" || std::wstring_view(words[i]) == L"/start") {
            found = true;
        }
    }
    LocalFree(words);
    return found;
}

int runStationProgram(HINSTANCE instance, StationBindings& bindings, bool simulated,
                      bool startAtOnce) {
    // The phone list and the places' list come from the common controls.
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    const Language language = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN
                                  ? Language::russian
                                  : Language::english;
    bindings.language = language;
    bindings.nativeToUtf8 = [](std::string_view text) { return utf8FromWide(wideFromAnsi(text)); };
    // The folder is in the system's narrow encoding, as every name the engine's files take.
    bindings.enterFolder = [](const std::string& folder) {
        return SetCurrentDirectoryA(folder.c_str()) != FALSE;
    };
    const StationLauncher launcher = [&bindings](const StationPlan& plan) {
        return std::make_unique<StationEngine>(bindings, plan);
    };
    Win32SettingsFile settings = Win32SettingsFile::inProfile();
    Win32StationView view(language);
    StationWindowController controller(view, settings, launcher, language, simulated);
    StationWindowBinding binding{view, controller, startAtOnce};
    runStationWindow(instance, binding);
    // The controller joins the engine's worker as it goes, before the view and the settings.
    return 0;
}

}  // namespace norvale
