// The station window's settings file: what it keeps and what a spoiled file still gives back.
#include <gtest/gtest.h>

#include <string>

#include "ui/StationSetup.h"

namespace norvale {
namespace {

StationSetup everyKindOfStep() {
    StationSetup setup;
    setup.steps = {
        {SetupStep::Kind::backup},
        {SetupStep::Kind::writeBoot, R"(C:\images\boot 2.bin)"},
        {SetupStep::Kind::writePds, "pds.bin"},
        {SetupStep::Kind::writePanic, "panic.bin"},
        {SetupStep::Kind::writeBlocks, R"(D:\b.bin)", "10010000", "1001FFFF"},
        {SetupStep::Kind::restore, R"(C:\backups\backup-20261208-041500)"},
        {SetupStep::Kind::start},
        {SetupStep::Kind::blank},
    };
    setup.verify = false;
    setup.changedOnly = true;
    setup.folder = R"(C:\station)";
    setup.journal = R"(C:\station\line 1.jsonl)";
    setup.allPlaces = false;
    setup.knownPlaces = {"sim-1", "sim-2", "1-1.3"};
    setup.tickedPlaces = {"sim-2"};
    setup.recipe = R"(\\line\рецепты\pds.toml)";
    return setup;
}

TEST(StationSetup, TheFileReadsBackAsItWasWritten) {
    const StationSetup setup = everyKindOfStep();
    const std::string file = formatStationSetup(setup);
    EXPECT_EQ(file, "step=backup\n"
                    "step=write-boot C:\\images\\boot 2.bin\n"
                    "step=write-pds pds.bin\n"
                    "step=write-panic panic.bin\n"
                    "step=write-blocks 10010000 1001FFFF D:\\b.bin\n"
                    "step=restore C:\\backups\\backup-20261208-041500\n"
                    "step=start\n"
                    "step=blank\n"
                    "verify=0\n"
                    "changed-only=1\n"
                    "clone-pds=0\n"
                    "folder=C:\\station\n"
                    "journal=C:\\station\\line 1.jsonl\n"
                    "places=ticked\n"
                    "place=sim-1\n"
                    "place=sim-2\n"
                    "place=1-1.3\n"
                    "ticked=sim-2\n"
                    "recipe=\\\\line\\рецепты\\pds.toml\n");
    EXPECT_EQ(parseStationSetup(file), setup);
    // Notepad's line ends change nothing.
    std::string crlf;
    for (const char c : file) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(parseStationSetup(crlf), setup);
}

TEST(StationSetup, ASpoiledFileLosesOnlyItsSpoiledLines) {
    // Nothing at all: a first start, with verification on and every place served.
    EXPECT_EQ(parseStationSetup(""), StationSetup{});

    const StationSetup parsed = parseStationSetup(
        "step=write-pds\n"                    // no file
        "step=write-blocks 10010000 x.bin\n"  // no end address... and no file after it
        "step=format-everything\n"            // no such step
        "step=start\n"
        "colour=blue\n"  // no such key
        "no equals sign at all\n"
        "place=\n"  // an empty place
        "place=sim-1\n"
        "place=sim-1\n"      // the same place twice
        "journal=j.jsonl");  // cut short: no line end
    StationSetup expected;
    expected.steps = {{SetupStep::Kind::start}};
    expected.knownPlaces = {"sim-1"};
    expected.journal = "j.jsonl";
    EXPECT_EQ(parsed, expected);
}

}  // namespace
}  // namespace norvale
