// The operator dialog's decisions.
#include "ui/MainDialog.h"

#include <utility>

#include "core/OperatorTexts.h"
#include "protocol/CommandWorker.h"
#include "ui/resources/resource.h"

namespace norvale {

namespace {

inline constexpr unsigned kAddressFieldChars = 8;
inline constexpr char kInitialStart[] = "10010000";
inline constexpr char kInitialEnd[] = "1001FFFF";

struct CommandButton {
    std::uintptr_t id;
    CommandBody CommandBodies::*body;
};

inline constexpr CommandButton kCommandButtons[] = {
    {IDC_WRITE_PDS, &CommandBodies::writePds},
    {IDC_WRITE_BOOT, &CommandBodies::writeBoot},
    {IDC_WRITE_PANIC, &CommandBodies::writePanic},
    {IDC_WRITE_BLOCK_RANGE, &CommandBodies::writeBlockRange},
    {IDC_BLANK_MODE, &CommandBodies::setBlankMode},
    {IDC_READ_RANGE, &CommandBodies::readRangeToFile},
    {IDC_START_PHONE, &CommandBodies::startPhone},
};

}  // namespace

MainDialog::MainDialog(Services& services, CommandBodies bodies, PresenceHooks presence)
    : services_(services), bodies_(std::move(bodies)), presence_(std::move(presence)) {}

bool MainDialog::onInitDialog() {
    if (presence_.monitor) services_.platform.threads.start(presence_.monitor);
    DialogView& view = services_.view;
    view.createStatusBar(text::kStatusDisconnected);
    view.limitField(AddressField::start, kAddressFieldChars);
    view.limitField(AddressField::end, kAddressFieldChars);
    view.setFieldText(AddressField::start, kInitialStart);
    view.setFieldText(AddressField::end, kInitialEnd);
    return true;
}

bool MainDialog::onCommand(std::uintptr_t wParam) {
    if (wParam == IDC_CLEAR_LOG) {
        services_.view.clearLog();
        return true;
    }
    for (const CommandButton& button : kCommandButtons) {
        if (button.id == wParam) {
            startWorker(bodies_.*button.body);
            return true;
        }
    }
    // Enter (1) and Escape (2) land here too: they match no control, so the dialog stays open.
    return true;
}

void MainDialog::startWorker(const CommandBody& body) {
    // Only the UI thread sets busy and only the worker clears it, so a plain check-then-set is
    // enough: a click while a worker runs is dropped without a word.
    SessionState& state = services_.state;
    if (state.busy.load()) return;
    state.busy.store(true);
    Services& services = services_;
    // The worker gets its own copy of the body: nothing of the dialog is touched after the click.
    const bool started =
        services_.platform.threads.start([&services, body] { runCommandWorker(services, body); });
    // No thread means no worker to clear busy; leaving it set would lock every button for good.
    if (!started) state.busy.store(false);
}

bool MainDialog::onSysCommand(std::uintptr_t wParam) {
    // The low four bits of a system command are the system's own (the close box, Alt+F4 and a
    // double click on the system menu differ there), so only the command part is compared.
    if ((wParam & 0xFFF0) != kSysCommandClose) return false;
    services_.view.endDialog(0);
    return true;
}

bool MainDialog::onPresence(std::uintptr_t wParam) {
    if (wParam == 1) {
        if (presence_.onArrival) presence_.onArrival();
    } else if (wParam == 0) {
        if (presence_.onRemoval) presence_.onRemoval();
    }
    return true;
}

}  // namespace norvale
