// The station's command line: its options, and what a station refuses before it starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/StationRefusal.h"

namespace norvale {
namespace {

CommandLine parsed(std::vector<std::string> args) { return parseCommandLine(args); }

TEST(StationArguments, OptionsBeforeTheChainAndTheChainAsForOnePhone) {
    const CommandLine line =
        parsed({"--station", "--port",    "1-1.3",          "--port=1-1.4", "--count",     "12",
                "--journal", "run.jsonl", "--dir",          "out",          "-q",          "backup",
                "write",     "pds",       "new.bin",        "--backup",     "old-pds.bin", "read",
                "boot",      "-o",        "dumps/boot.bin", "start"});
    ASSERT_EQ(line.kind, CommandLine::Kind::run) << line.detail;
    const StationOptions& station = line.options.station;
    EXPECT_TRUE(station.enabled);
    EXPECT_EQ(station.ports, (std::vector<std::string>{"1-1.3", "1-1.4"}));
    EXPECT_EQ(station.count, 12u);
    EXPECT_EQ(station.journal, "run.jsonl");
    EXPECT_EQ(line.options.workingFolder, "out");
    EXPECT_TRUE(line.options.quiet);
    ASSERT_EQ(line.steps.size(), 4u);
    EXPECT_EQ(std::get<WriteStep>(line.steps[1]).backup, "old-pds.bin");
    EXPECT_EQ(std::get<ReadStep>(line.steps[2]).output, "dumps/boot.bin");

    EXPECT_FALSE(parsed({"read", "pds"}).options.station.enabled);
}

TEST(StationArguments, WhatMakesNoSenseOnEveryPhoneIsRefused) {
    struct Case {
        std::vector<std::string> args;
        MessageId reason;
        std::string detail;
    };
    const std::vector<Case> cases{
        {{"--station", "list"}, MessageId::notInStation, "list"},
        {{"--station", "info", "list"}, MessageId::notInStation, "list"},
        {{"--station", "--device", "usb:1", "info"}, MessageId::notInStation, "--device"},
        {{"--station", "--wait", "60", "info"}, MessageId::notInStation, "--wait"},
        {{"--station", "read", "pds", "-o", "/tmp/pds.bin"},
         MessageId::outsidePhoneFolder,
         "/tmp/pds.bin"},
        {{"--station", "read", "pds", "-o", "..\\pds.bin"},
         MessageId::outsidePhoneFolder,
         "..\\pds.bin"},
        {{"--station", "read", "pds", "-o", "a/../../pds.bin"},
         MessageId::outsidePhoneFolder,
         "a/../../pds.bin"},
        {{"--station", "read", "pds", "-o", "C:pds.bin"},
         MessageId::outsidePhoneFolder,
         "C:pds.bin"},
        {{"--station", "--backup", "D:\\old.bin", "write", "pds", "new.bin"},
         MessageId::outsidePhoneFolder,
         "D:\\old.bin"},
        {{"--station", "backup", "\\\\server\\share"},
         MessageId::outsidePhoneFolder,
         "\\\\server\\share"},
        {{"--station", "--count", "0", "info"}, MessageId::badOptionValue, "--count 0"},
        {{"--station", "--count", "1x", "info"}, MessageId::badOptionValue, "--count 1x"},
        {{"--station", "--count", "1000001", "info"}, MessageId::badOptionValue, "--count 1000001"},
        {{"--station", "--port"}, MessageId::missingArgument, "--port"},
        {{"--port", "1-1.3", "info"}, MessageId::onlyInStation, "--port"},
        {{"--count", "3", "info"}, MessageId::onlyInStation, "--count"},
        {{"--journal", "j.jsonl", "info"}, MessageId::onlyInStation, "--journal"},
        {{"info", "--station"}, MessageId::unknownOption, "--station"},
    };
    for (const Case& c : cases) {
        const CommandLine line = parsed(c.args);
        EXPECT_EQ(line.kind, CommandLine::Kind::usageError) << c.args.back();
        EXPECT_EQ(line.reason, c.reason) << c.args.back();
        EXPECT_EQ(line.detail, c.detail);
    }
    // Names inside the phone's folder, a sub-folder's too, are a station's to take.
    for (const std::string name : {"pds.bin", "dumps/pds.bin", "dumps\\pds.bin", "..pds", "a..b"}) {
        EXPECT_TRUE(staysInsideFolder(name)) << name;
    }
    EXPECT_EQ(parsed({"--station", "--help"}).kind, CommandLine::Kind::help);
}

}  // namespace
}  // namespace norvale
