// A station plan as the window builds it, and the norvale-cli line that does the same.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "station/StationPlan.h"

namespace norvale {
namespace {

// A plan with every kind of step a station runs, built as the window builds one.
StationPlan everyStep() {
    StationPlan plan;
    plan.steps.push_back(BackupStep{});
    plan.steps.push_back(BackupStep{"start"});  // a folder named like a command
    plan.steps.push_back(regionWrite(Region::pds, R"(C:\Images\PDS new.bin)"));
    WriteStep boot = regionWrite(Region::boot, "boot.bin");
    boot.backup = "old boot.bin";
    plan.steps.push_back(boot);
    plan.steps.push_back(regionWrite(Region::panic, "panic.bin"));
    plan.steps.push_back(*blockWrite({"10040000", "1005ffff", 0x10040000u, 0x1005FFFFu}, "b.bin"));
    plan.steps.push_back(ReadStep{regionRange(Region::pds), "pds.bin"});
    plan.steps.push_back(ReadStep{{"10000000", "100000FF", 0x10000000u, 0x100000FFu}, {}});
    plan.steps.push_back(StartStep{});
    plan.steps.push_back(BlankStep{});
    plan.workingFolder = R"(C:\Service shop\)";
    plan.journal = "run.jsonl";
    plan.ports = {"1-1.2", "1-1.4"};
    plan.count = 12;
    plan.simulated = true;
    setWriteChecks(plan, false, true);
    typeStepTexts(plan);
    return plan;
}

TEST(StationPlan, ItsCommandLineReadsBackIntoTheSamePlan) {
    for (const bool verify : {true, false}) {
        StationPlan plan = everyStep();
        setWriteChecks(plan, verify, !verify);
        typeStepTexts(plan);
        SCOPED_TRACE(stationCommandLine(plan));
        const std::vector<std::string> args = stationArguments(plan);
        const CommandLine line = parseCommandLine(args);
        ASSERT_EQ(line.kind, CommandLine::Kind::run) << line.detail;
        StationPlan parsed = stationPlan(line);
        // The folder named like a command goes as a name that means the same folder.
        EXPECT_EQ(std::get<BackupStep>(parsed.steps[1]).folder, "./start");
        std::get<BackupStep>(parsed.steps[1]).folder = "start";
        parsed.stepTexts = plan.stepTexts;
        EXPECT_EQ(parsed, plan);
    }
}

TEST(StationPlan, ItsCommandLineIsQuotedAsTheWindowsRuntimeSplitsIt) {
    StationPlan plan;
    plan.steps = {regionWrite(Region::pds, R"(C:\My "new" images\pds.bin)"), StartStep{}};
    plan.workingFolder = R"(C:\Service shop\)";
    plan.journal = "";
    typeStepTexts(plan);
    EXPECT_EQ(stationCommandLine(plan),
              R"(norvale-cli --station --dir "C:\Service shop\\" --journal "" write pds )"
              R"("C:\My \"new\" images\pds.bin" start)");
    EXPECT_EQ(plan.stepTexts,
              (std::vector<std::string>{R"(write pds C:\My "new" images\pds.bin)", "start"}));
}

TEST(StationPlan, WriteChecksReachEveryWriteAndNothingElse) {
    StationPlan plan = everyStep();
    setWriteChecks(plan, true, false);
    std::size_t writes = 0;
    for (const ChainStep& step : plan.steps) {
        if (const auto* write = std::get_if<WriteStep>(&step)) {
            ++writes;
            EXPECT_TRUE(write->verify);
            EXPECT_FALSE(write->changedOnly);
        }
    }
    EXPECT_EQ(writes, 4u);
    EXPECT_EQ(std::get<ReadStep>(plan.steps[6]), (ReadStep{regionRange(Region::pds), "pds.bin"}));
}

}  // namespace
}  // namespace norvale
