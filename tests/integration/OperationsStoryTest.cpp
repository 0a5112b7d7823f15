// The seven command buttons of the dialog, clicked in turn against one simulated phone: each does
// its work through the bodies the programs plug in, on a worker thread of its own.
#include <gtest/gtest.h>

#include <thread>

#include "OperationsRig.h"
#include "ui/CommandBodies.h"
#include "ui/MainDialog.h"
#include "ui/resources/resource.h"

namespace norvale {
namespace {

using namespace norvale::testing;

class OperationsStory : public ::testing::Test {
protected:
    // Clicks the button and waits for its worker to end; returns what the click added to the log.
    std::string click(std::uintptr_t button) {
        const std::size_t before = rig.view.logText().size();
        rig.view.runOnUiThread([&] { dialog.onCommand(button); });
        for (int i = 0; i < 2000 && rig.state.busy.load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_FALSE(rig.state.busy.load()) << "the worker of " << button << " did not end";
        return rig.view.logText().substr(before);
    }

    static bool endsWith(const std::string& log, std::string_view tail) {
        return log.size() >= tail.size() &&
               log.compare(log.size() - tail.size(), tail.size(), tail) == 0;
    }

    OperationsRig rig;
    MainDialog dialog{rig.services, productCommandBodies(), PresenceHooks{}};
};

TEST_F(OperationsStory, EveryButtonDoesItsWorkOnThePhone) {
    rig.view.runOnUiThread([&] { dialog.onInitDialog(); });

    // Записать PDS, then Прочитать данные with the fields as the dialog opened: the round trip.
    const Bytes pds = patternImage(0x10000, 21);
    rig.pickImage("customer-pds.img", pds);
    std::string log = click(IDC_WRITE_PDS);
    EXPECT_NE(log.find(text::kWritingData), std::string::npos);
    EXPECT_TRUE(endsWith(log, text::kSuccess)) << log;
    EXPECT_TRUE(endsWith(click(IDC_READ_RANGE), text::kSuccess));
    EXPECT_EQ(fileBytes("PDS.bin"), pds);

    const Bytes boot = patternImage(0x10000, 22);
    rig.pickImage("boot.img", boot);
    EXPECT_TRUE(endsWith(click(IDC_WRITE_BOOT), text::kSuccess));
    EXPECT_EQ(rig.flash(0x10000000, 0x10000), boot);

    const Bytes panic = patternImage(0x20000, 23);
    rig.pickImage("panic.img", panic);
    EXPECT_TRUE(endsWith(click(IDC_WRITE_PANIC), text::kSuccess));
    EXPECT_EQ(rig.flash(0x10020000, 0x20000), panic);

    rig.view.typeIntoField(AddressField::start, "10040000");
    rig.view.typeIntoField(AddressField::end, "1005FFFF");
    const Bytes cg3 = patternImage(0x20000, 24);
    rig.pickImage("cg3-part.img", cg3);
    EXPECT_TRUE(endsWith(click(IDC_WRITE_BLOCK_RANGE), text::kSuccess));
    EXPECT_EQ(rig.flash(0x10040000, 0x20000), cg3);

    EXPECT_TRUE(endsWith(click(IDC_BLANK_MODE), text::kSettingBlank));
    EXPECT_TRUE(rig.sim.phone().blank());

    log = click(IDC_START_PHONE);
    EXPECT_TRUE(endsWith(log, std::string(text::kStartingPhone) + std::string(text::kSuccess)))
        << log;
    EXPECT_FALSE(rig.sim.driver.attached(rig.sim.phoneId));
    EXPECT_EQ(rig.sim.chooser.timesShown(), 4u);
}

}  // namespace
}  // namespace norvale
