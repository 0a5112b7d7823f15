// The benchmark's simulated phone: scratch folder, loader images, and timed command runs.
#include "BenchPhone.h"

#include <fstream>

#include "CpuClock.h"
#include "Stopwatch.h"
#include "protocol/CommandWorker.h"

namespace norvale::bench {

Bytes patternBytes(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8) * 13);
    }
    return bytes;
}

void putFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool fileHolds(const std::filesystem::path& path, const Bytes& expected) {
    std::ifstream in(path, std::ios::binary);
    const Bytes held{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return held == expected;
}

Bytes erasedFlashOf(unsigned number, std::uint32_t start, std::uint32_t end) {
    return SimPhone::erasedFlashOf(number, start, std::size_t{end} - start + 1);
}

BenchPhone::BenchPhone(Road road, std::size_t usbReadAhead)
    : services{state,
               log,
               platform,
               view,
               DriverPhoneLink{platform.driver},
               UsbPhoneLink{platform.usb, platform.clock, usbReadAhead}} {
    sim.driver.keepTrace(false);
    SimInterfaceOptions options;
    options.road = road;
    sim.phoneId = sim.driver.attach(options);
    state.connected = true;
    state.device.store(std::make_shared<const OpenDevice>(
        sim.driver.open(sim.driver.devicePathOf(sim.phoneId)), sim.driver, road));
}

BenchPhone::~BenchPhone() { state.device.store(nullptr); }

BodyRun BenchPhone::run(const CommandBody& body) {
    view.clearLog();
    log.clear();
    BodyRun result;
    bool bodyRan = false;
    state.busy = true;
    runCommandWorker(services, [&](CommandContext& command) {
        bodyRan = true;
        timedDriver.reset();
        timedUsb.reset();
        timedFiles.reset();
        const double modelledBefore = sim.driver.modelledMs();
        const double processBefore = processCpuMs();
        const double threadBefore = threadCpuMs();
        const Stopwatch stopwatch;
        body(command);
        result.wallMs = stopwatch.elapsedMs();
        result.threadCpuMs = threadCpuMs() - threadBefore;
        result.processCpuMs = processCpuMs() - processBefore;
        result.simulatorMs = timedDriver.insideMs() + timedUsb.insideMs();
        result.fileMs = timedFiles.insideMs();
        result.transfers = timedDriver.requests() + timedUsb.transfers();
        result.modelledMs = sim.driver.modelledMs() - modelledBefore;
    });
    result.succeeded = bodyRan && log.endedWithSuccess();
    return result;
}

void BenchPhone::fields(std::string_view start, std::string_view end) {
    view.setFieldText(AddressField::start, start);
    view.setFieldText(AddressField::end, end);
}

void BenchPhone::pickImage(const std::string& name, const Bytes& bytes) {
    putFile(folder() / name, bytes);
    sim.chooser.choose(name);
}

}  // namespace norvale::bench
