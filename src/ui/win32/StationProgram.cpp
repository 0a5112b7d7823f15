// The whole life of either station program once its bindings are chosen.
#include "ui/win32/StationProgram.h"

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string_view>

#include "core/Utf8Path.h"
#include "platform/win32/WideName.h"
#include "station/StationEngine.h"
#include "ui/StationWindowController.h"
#include "ui/win32/StationWindow.h"
#include "ui/win32/WideText.h"
#include "ui/win32/Win32SettingsFile.h"
#include "ui/win32/Win32StationView.h"

namespace norvale {

StationWindowOptions stationOptions(const wchar_t* commandLine) {
    StationWindowOptions options;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(commandLine, &count);
    if (words == nullptr) return options;
    for (int i = 1; i < count; ++i) {
        const std::wstring_view word(words[i]);
        if (word == L"--start" || word == L"/start") options.startAtOnce = true;
        if (word == L"--lang" && i + 1 < count) {
            const std::wstring_view language(words[++i]);
            if (language == L"ru") options.language = Language::russian;
            if (language == L"en") options.language = Language::english;
        }
    }
    LocalFree(words);
    return options;
}

int runStationProgram(HINSTANCE instance, StationBindings& bindings, bool simulated,
                      const StationWindowOptions& options, const RecipeShelf& recipes) {
    // The phone list and the places' list come from the common controls.
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    const Language language = options.language.value_or(
        PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_RUSSIAN ? Language::russian
                                                                  : Language::english);
    bindings.language = language;
    // Names are UTF-8 in this program, as its file system opens them; a phone's string that is
    // no UTF-8 is read in the ANSI code page.
    bindings.nativeToUtf8 = [](std::string_view text) {
        return isUtf8(text) ? std::string(text) : utf8Name(wideName(text, CP_ACP).value_or(L""));
    };
    bindings.enterFolder = enterUtf8Folder;
    const StationLauncher launcher = [&bindings](const StationPlan& plan) {
        return std::make_unique<StationEngine>(bindings, plan);
    };
    Win32SettingsFile settings = Win32SettingsFile::inProfile();
    Win32StationView view(language);
    StationWindowController controller(view, settings, launcher, language, simulated, &recipes);
    StationWindowBinding binding{view, controller, options.startAtOnce};
    runStationWindow(instance, binding);
    // The controller joins the engine's worker as it goes, before the view and the settings.
    return 0;
}

}  // namespace norvale
