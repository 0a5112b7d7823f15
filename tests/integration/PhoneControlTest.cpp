// "Запустить телефон" and "Режим BLANK" against the simulated phone.
#include <gtest/gtest.h>

#include "OperationsRig.h"
#include "operations/PhoneControl.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Lines = std::vector<std::string>;

TEST(PhoneControl, StartPhonePutsSThenABetweenItsTwoLinesAndThePhoneLeavesFlashMode) {
    OperationsRig rig;
    expectTranscript(rig.run(startPhone), {logged(text::kStartingPhone), writtenHex("53"),
                                           writtenHex("41"), logged(text::kSuccess)});
    EXPECT_FALSE(rig.sim.driver.attached(rig.sim.phoneId));
}

TEST(PhoneControl, BlankModeSendsBThenSaysSo) {
    OperationsRig rig;
    expectTranscript(rig.run(setBlankMode), {writtenHex("42"), logged(text::kSettingBlank)});
    EXPECT_TRUE(rig.sim.phone().blank());
}

// Mend: a byte that did not reach the phone ends the command; its success line is not logged.
TEST(PhoneControl, ACommandByteThatFailsEndsTheCommandWithoutItsSuccessLine) {
    {
        OperationsRig rig;
        expectTranscript(rig.run(startPhone, {{SimFaultKind::unplug, 1}}),
                         {logged(text::kStartingPhone), writtenHex("53 FAIL"),
                          errorLogged(text::kNoAnswerFromPhone)});
    }
    {
        OperationsRig rig;
        expectTranscript(rig.run(startPhone, {{SimFaultKind::hang, 2}}),
                         {logged(text::kStartingPhone), writtenHex("53"), writtenHex("41 FAIL"),
                          errorLogged(text::kNoAnswerFromPhone)});
    }
    {
        OperationsRig rig;
        expectTranscript(rig.run(setBlankMode, {{SimFaultKind::unplug, 1}}),
                         {writtenHex("42 FAIL"), errorLogged(text::kNoAnswerFromPhone)});
        EXPECT_FALSE(rig.sim.phone().blank());
    }
}

}  // namespace
}  // namespace norvale
