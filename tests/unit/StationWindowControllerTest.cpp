// The station window's decisions, without Windows: the chain built with the buttons and shown as
// its command line, what is kept for the next start, and what may change while phones are served.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/StationWindowController.h"
#include "ui/resources/resource.h"
#include "unit/FakeStationView.h"

namespace norvale {
namespace {

using testing::FakeStationView;
using testing::MemorySettings;

struct Window {
    explicit Window(Language language = Language::english) : language(language) {}

    FakeStationView view;
    MemorySettings settings;
    Language language;
    int launches = 0;
    StationWindowController controller{view, settings,
                                       [this](const StationPlan&) {
                                           ++launches;
                                           return nullptr;
                                       },
                                       language};
};

TEST(StationWindowController, TheChainIsBuiltWithTheButtonsAndShownAsItsCommandLine) {
    Window window;
    window.controller.onInit();
    EXPECT_EQ(window.view.caption, "Norvale Station      v 0.5");
    EXPECT_EQ(window.view.texts[IDC_ST_FOLDER], "here");
    EXPECT_TRUE(window.view.checks[IDC_ST_VERIFY]);
    EXPECT_TRUE(window.view.checks[IDC_ST_ALL_PLACES]);
    EXPECT_FALSE(window.view.isEnabled(IDC_ST_PLACES));

    window.controller.onCommand(IDC_ST_BACKUP);
    window.view.files = {"new-pds.bin", std::nullopt};
    window.controller.onCommand(IDC_ST_WRITE_PDS);
    window.controller.onCommand(IDC_ST_WRITE_BOOT);  // cancelled in the file dialog
    window.view.texts[IDC_ST_FROM] = "10040000";
    window.view.texts[IDC_ST_TO] = "1005ffff";
    window.view.files = {"blocks.bin"};
    window.controller.onCommand(IDC_ST_WRITE_BLOCKS);
    window.view.folders = {"backup-20261208-041500"};
    window.controller.onCommand(IDC_ST_RESTORE);
    window.controller.onCommand(IDC_ST_START_PHONE);
    EXPECT_EQ(window.view.steps,
              (std::vector<std::string>{"backup", "write PDS new-pds.bin",
                                        "write 10040000-1005FFFF blocks.bin",
                                        "restore backup-20261208-041500", "start"}));
    EXPECT_EQ(window.view.texts[IDC_ST_COMMAND_LINE], "");

    window.view.checks[IDC_ST_VERIFY] = false;
    window.controller.onCommand(IDC_ST_VERIFY);
    window.view.selected = 2;
    window.controller.onCommand(IDC_ST_REMOVE_STEP);
    EXPECT_EQ(window.view.texts[IDC_ST_COMMAND_LINE], "");
    window.controller.onCommand(IDC_ST_CLEAR_STEPS);
    EXPECT_TRUE(window.view.steps.empty());
}

}  // namespace
}  // namespace norvale
