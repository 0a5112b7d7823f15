// norvale.exe: the operator dialog over the real driver, SetupAPI, registry, files and threads.
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
#include "ui/win32/DialogProgram.h"

namespace {

// Until the WinUSB binding lands the program has only the driver road: a bus without phones.
class NoUsbPort final : public norvale::UsbPort {
public:
    std::vector<std::string> listPhones() override { return {}; }
    norvale::DeviceHandle open(const std::string&) override { return norvale::kInvalidDevice; }
    void close(norvale::DeviceHandle) override {}
    std::uint32_t maxPacketSize(norvale::DeviceHandle) override { return 0; }
    norvale::UsbTransfer bulkOut(norvale::DeviceHandle, std::span<const std::uint8_t>,
                                 std::uint32_t) override {
        return {norvale::UsbStatus::gone, 0};
    }
    norvale::UsbTransfer bulkIn(norvale::DeviceHandle, std::span<std::uint8_t>,
                                std::uint32_t) override {
        return {norvale::UsbStatus::gone, 0};
    }
    norvale::UsbTransfer stringDescriptor(norvale::DeviceHandle, norvale::UsbString,
                                          std::span<std::uint8_t>) override {
        return {norvale::UsbStatus::gone, 0};
    }
    void cancel(norvale::DeviceHandle) override {}
    bool waitForRemoval(const std::string&) override { return false; }
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace norvale;
    Win32DriverPort driver;
    Win32InterfaceEnumerator interfaces;
    Win32RemovalWatch removalWatch;
    NoUsbPort usb;
    Win32FileSystem files;
    Win32FileChooser chooser(text::kImageFileFilter.view());
    Win32Clock clock;
    Win32ThreadStarter threads;
    Platform platform{driver, interfaces, removalWatch, usb, files, chooser, clock, threads};
    runDialogProgram(instance, platform);
}
