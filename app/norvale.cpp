// norvale.exe: the operator dialog over the real driver, WinUSB, SetupAPI, registry, files and
// threads.
#include <windows.h>

#include "core/OperatorTexts.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DriverPort.h"
#include "platform/win32/Win32FileChooser.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32InterfaceEnumerator.h"
#include "platform/win32/Win32RemovalWatch.h"
#include "platform/win32/Win32ThreadStarter.h"
#include "platform/win32/WinUsbPort.h"
#include "ui/win32/DialogProgram.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace norvale;
    Win32DriverPort driver;
    Win32InterfaceEnumerator interfaces;
    Win32RemovalWatch removalWatch;
    WinUsbPort usb;
    // The dialog names files in the system's ANSI code page, as its file dialog gives them.
    Win32FileSystem files(CP_ACP);
    Win32FileChooser chooser(text::kImageFileFilter.view());
    Win32Clock clock;
    Win32ThreadStarter threads;
    Platform platform{driver, interfaces, removalWatch, usb, files, chooser, clock, threads};
    runDialogProgram(instance, platform);
}
