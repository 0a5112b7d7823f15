// The dialog controller over the in-memory view and the simulator.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "integration/OperationsRig.h"
#include "sim/MemoryDialogView.h"
#include "sim/SimPlatform.h"
#include "ui/MainDialog.h"
#include "ui/ViewLog.h"
#include "unit/DialogLogTexts.h"
#include "unit/GatedThreads.h"

namespace norvale {
namespace {

using namespace std::chrono_literals;

// "ОШИБКА - Телефон не подключен\r\n", spelled out in Windows-1251 bytes.
const std::string kNotConnectedLine =
    "\xCE\xD8\xC8\xC1\xCA\xC0 - \xD2\xE5\xEB\xE5\xF4\xEE\xED \xED\xE5 "
    "\xEF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED\r\n";
// "Не подключен".
const std::string kDisconnectedStatus = "\xCD\xE5 \xEF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED";

constexpr std::uintptr_t kCommandIds[] = {1037, 1038, 1039, 1041, 1042, 1043, 1044};

using testing::GatedThreads;

class MainDialogTest : public ::testing::Test {
protected:
    ~MainDialogTest() override {
        threads.open();
        sim.threads.joinAll();
    }

    MainDialog makeDialog(PresenceHooks presence = {}) {
        return MainDialog(services, CommandBodies{}, std::move(presence));
    }
    // Clicks a button as the dialog's UI thread does.
    void click(MainDialog& dialog, std::uintptr_t id) {
        view.runOnUiThread([&] { EXPECT_TRUE(dialog.onCommand(id)); });
    }
    void finishWorkers() {
        threads.open();
        sim.threads.joinAll();
    }

    SimPlatform sim{SimPlatform::Phone::none};
    GatedThreads threads{sim.threads};
    Platform platform{sim.driver, sim.driver,  sim.driver, sim.driver,
                      sim.files,  sim.chooser, sim.clock,  threads};
    SessionState state;
    MemoryDialogView view;
    ViewLog log{view};
    Services services{state, log, platform, view};
};

TEST_F(MainDialogTest, InitialisationShowsDisconnectedAndFillsTheLimitedFields) {
    std::promise<std::thread::id> monitorRan;
    MainDialog dialog = makeDialog({[&] { monitorRan.set_value(std::this_thread::get_id()); }});

    EXPECT_TRUE(dialog.onInitDialog());

    threads.open();
    auto monitorThread = monitorRan.get_future();
    ASSERT_EQ(monitorThread.wait_for(5s), std::future_status::ready);
    EXPECT_NE(monitorThread.get(), std::this_thread::get_id());
    EXPECT_EQ(threads.started(), 1);
    EXPECT_TRUE(view.statusBarCreated());
    EXPECT_EQ(view.statusText(), kDisconnectedStatus);
    EXPECT_EQ(view.fieldLimit(AddressField::start), 8u);
    EXPECT_EQ(view.fieldLimit(AddressField::end), 8u);
    EXPECT_EQ(view.storedFieldText(AddressField::start), "10010000");
    EXPECT_EQ(view.storedFieldText(AddressField::end), "1001FFFF");
    EXPECT_EQ(view.logText(), "");
    EXPECT_FALSE(state.busy.load());
}

TEST_F(MainDialogTest, InitialisationWithoutAMonitorStartsNoThread) {
    MainDialog dialog = makeDialog();
    EXPECT_TRUE(dialog.onInitDialog());
    EXPECT_EQ(threads.started(), 0);
}

TEST_F(MainDialogTest, EveryCommandButtonWithoutAPhoneLogsTheNotConnectedLine) {
    MainDialog dialog = makeDialog();
    dialog.onInitDialog();
    threads.open();
    for (const std::uintptr_t id : kCommandIds) {
        SCOPED_TRACE(id);
        view.runOnUiThread([&] { view.clearLog(); });
        click(dialog, id);
        sim.threads.joinAll();
        EXPECT_EQ(view.logText(), kNotConnectedLine);
        EXPECT_FALSE(state.busy.load());
    }
    EXPECT_EQ(threads.started(), 7);
    EXPECT_EQ(sim.driver.pipeTransfers(), 0u);
}

TEST_F(MainDialogTest, AClickWhileAWorkerRunsStartsNothing) {
    MainDialog dialog = makeDialog();
    click(dialog, 1037);
    EXPECT_TRUE(state.busy.load());
    click(dialog, 1037);
    click(dialog, 1043);
    EXPECT_EQ(threads.started(), 1);

    finishWorkers();
    EXPECT_EQ(view.logText(), kNotConnectedLine);
    EXPECT_FALSE(state.busy.load());

    // The worker cleared busy, so the next click starts a new one.
    click(dialog, 1044);
    sim.threads.joinAll();
    EXPECT_EQ(threads.started(), 2);
    EXPECT_EQ(view.logText(), kNotConnectedLine + kNotConnectedLine);
}

TEST_F(MainDialogTest, AThreadThatCouldNotStartLeavesTheButtonsUsable) {
    MainDialog dialog = makeDialog();
    sim.threads.failNextStart();
    click(dialog, 1038);
    EXPECT_FALSE(state.busy.load());
    EXPECT_EQ(threads.started(), 0);

    click(dialog, 1038);
    finishWorkers();
    EXPECT_EQ(threads.started(), 1);
    EXPECT_EQ(view.logText(), kNotConnectedLine);
}

TEST_F(MainDialogTest, ClearLogWorksWhileAWorkerRuns) {
    MainDialog dialog = makeDialog();
    view.appendLog("old line\r\n");
    click(dialog, 1039);
    ASSERT_TRUE(state.busy.load());

    click(dialog, 1003);
    EXPECT_EQ(view.logText(), "");
    EXPECT_EQ(threads.started(), 1);  // clearing is no command: busy does not stop it, nor start

    finishWorkers();
    EXPECT_EQ(view.logText(), kNotConnectedLine);  // later lines start at the top
}

TEST_F(MainDialogTest, EnterEscapeAndFieldNotificationsDoNothing) {
    MainDialog dialog = makeDialog();
    dialog.onInitDialog();
    view.appendLog("kept\r\n");
    // 1 and 2 are Enter and Escape; the others are notifications of the fields and a button
    // (a code in the high word), and an id no control has.
    for (const std::uintptr_t wParam :
         {std::uintptr_t{1}, std::uintptr_t{2}, (std::uintptr_t{0x0300} << 16) | 1007,
          (std::uintptr_t{0x0100} << 16) | 1004, (std::uintptr_t{5} << 16) | 1037,
          std::uintptr_t{1018}, std::uintptr_t{1040}}) {
        SCOPED_TRACE(wParam);
        click(dialog, wParam);
    }
    EXPECT_EQ(threads.started(), 0);
    EXPECT_FALSE(state.busy.load());
    EXPECT_EQ(view.logText(), "kept\r\n");
    EXPECT_EQ(view.endResult(), std::nullopt);
}

TEST_F(MainDialogTest, CloseEndsTheDialogWithZeroAndOtherSystemCommandsFallThrough) {
    MainDialog dialog = makeDialog();
    EXPECT_FALSE(dialog.onSysCommand(0xF020));  // SC_MINIMIZE
    EXPECT_FALSE(dialog.onSysCommand(0xF100));  // SC_KEYMENU
    EXPECT_EQ(view.endResult(), std::nullopt);

    EXPECT_TRUE(dialog.onSysCommand(0xF060));
    EXPECT_EQ(view.endResult(), 0);
}

TEST_F(MainDialogTest, CloseFromTheSystemMenuIconCarriesSystemBitsAndStillCloses) {
    MainDialog dialog = makeDialog();
    EXPECT_TRUE(dialog.onSysCommand(0xF063));
    EXPECT_EQ(view.endResult(), 0);
}

TEST_F(MainDialogTest, PresenceNotificationsReachTheirHandlersOnTheUiThread) {
    MainDialog dialog = makeDialog(
        {{}, [&] { view.appendLog("arrival\r\n"); }, [&] { view.appendLog("removal\r\n"); }});
    view.setPresenceHandler([&](std::uintptr_t wParam) { EXPECT_TRUE(dialog.onPresence(wParam)); });

    // Sent from another thread, as the monitor does; each returns once handled.
    std::thread monitor([&] {
        view.sendPresence(1);
        view.sendPresence(7);
        view.sendPresence(0);
    });
    monitor.join();
    EXPECT_EQ(view.logText(), "arrival\r\nremoval\r\n");
    EXPECT_FALSE(state.busy.load());
}

TEST(MainDialogButtons, EachCommandButtonRunsItsOwnBodyAfterTheBootstrap) {
    testing::OperationsRig rig;
    const auto naming = [](std::string name) {
        return [name](CommandContext& command) { command.view().appendLog(name + "\r\n"); };
    };
    MainDialog dialog(
        rig.services,
        CommandBodies{naming("pds"), naming("boot"), naming("panic"), naming("block range"),
                      naming("blank"), naming("read"), naming("start")},
        PresenceHooks{});
    const std::pair<std::uintptr_t, std::string> buttons[] = {
        {1037, "pds"},   {1038, "boot"}, {1039, "panic"}, {1041, "block range"},
        {1042, "blank"}, {1043, "read"}, {1044, "start"}};
    for (const auto& [id, name] : buttons) {
        SCOPED_TRACE(name);
        rig.view.runOnUiThread([&] {
            rig.view.clearLog();
            dialog.onCommand(id);
        });
        rig.sim.threads.joinAll();
        const std::string log = rig.view.logText();
        EXPECT_EQ(log.substr(0, rig.view.logText().find("\r\n") + 2), text::kSendingLoader.str());
        ASSERT_GE(log.size(), name.size() + 2);
        EXPECT_EQ(log.substr(log.size() - name.size() - 2), name + "\r\n");
        EXPECT_FALSE(rig.state.busy.load());
    }
}

}  // namespace
}  // namespace norvale
