// norvale-sim.exe: the same dialog with a simulated phone attached in place of the USB driver.
#include <windows.h>

#include "core/OperatorTexts.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32FileChooser.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32ThreadStarter.h"
#include "sim/SimDriver.h"
#include "ui/win32/DialogProgram.h"

// The simulator stands in for the driver, the interface enumeration and the removal watch only;
// files, the file chooser, sleeping and threads are the real ones, so the program behaves as the
// product does in everything but the phone. The environment may ask for several phones, later
// arrivals and a phone that comes back after it was started (SimDriver::fromEnvironment).
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace norvale;
    Win32Clock clock;
    auto sim = SimDriver::fromEnvironment(clock);
    // The dialog names files in the system's ANSI code page, as its file dialog gives them.
    Win32FileSystem files(CP_ACP);
    Win32FileChooser chooser(text::kImageFileFilter.view());
    Win32ThreadStarter threads;
    Platform platform{*sim, *sim, *sim, *sim, files, chooser, clock, threads};
    runDialogProgram(instance, platform);
}
