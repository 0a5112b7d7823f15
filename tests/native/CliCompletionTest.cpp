// The bash completion the build wrote, sourced in a real bash and asked what Tab offers at each
// place of a command line, in a folder with a few files and folders.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace norvale {
namespace {

namespace fs = std::filesystem;

// Single quotes for the shell, quotes inside closed and reopened.
std::string shellQuoted(const std::string& word) {
    std::string text = "'";
    for (const char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
}

class CliCompletion : public ::testing::Test {
protected:
    CliCompletion() {
        folder_ =
            fs::temp_directory_path() / ("norvale-cli-completion-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "dumps");
        fs::create_directories(folder_ / "old phones");
        std::ofstream(folder_ / "pds.bin") << "x";
        std::ofstream(folder_ / "new image.bin") << "x";
    }
    ~CliCompletion() override { fs::remove_all(folder_); }
    CliCompletion(const CliCompletion&) = delete;
    CliCompletion& operator=(const CliCompletion&) = delete;

    // What Tab offers after `words` (the last one the word being completed), sorted, one entry
    // per element as COMPREPLY holds them.
    std::vector<std::string> offered(const std::vector<std::string>& words) {
        std::string script = "cd " + shellQuoted(folder_.string()) + " && source " +
                             shellQuoted(NORVALE_BASH_COMPLETION) + " && COMP_WORDS=(norvale-cli";
        for (const std::string& word : words) script += " " + shellQuoted(word);
        script += ") && COMP_CWORD=" + std::to_string(words.size()) +
                  " && _norvale_cli && printf '%s\\n' \"${COMPREPLY[@]}\"";
        FILE* pipe = ::popen(("bash --norc --noprofile -c " + shellQuoted(script)).c_str(), "r");
        EXPECT_NE(pipe, nullptr);
        if (pipe == nullptr) return {};
        std::string output;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, got);
        }
        EXPECT_EQ(::pclose(pipe), 0) << script;
        std::vector<std::string> entries;
        for (std::size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos;
             start = end + 1) {
            if (end > start) entries.push_back(output.substr(start, end - start));
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    static std::vector<std::string> sorted(std::vector<std::string> words) {
        std::sort(words.begin(), words.end());
        return words;
    }

    // The command line's commands and options, as an operator types them.
    static std::vector<std::string> commands() {
        return sorted({"backup", "blank", "help", "info", "list", "read", "recipe", "report",
                       "restore", "start", "write"});
    }
    static std::vector<std::string> optionNames() {
        return sorted({"--backup", "--changed-only", "--clone-pds", "--count",   "--device",
                       "--dir",    "--dry-run",      "--help",      "-h",        "--journal",
                       "--lang",   "--no-verify",    "--port",      "--quiet",   "-q",
                       "--recipe", "--sim",          "--station",   "--version", "--wait"});
    }

    fs::path folder_;
};

TEST_F(CliCompletion, FirstWordsAreTheCommandsAndOptions) {
    EXPECT_EQ(offered({""}), commands());
    EXPECT_EQ(offered({"-"}), optionNames());
    EXPECT_EQ(offered({"--l"}), (std::vector<std::string>{"--lang"}));
    EXPECT_EQ(offered({"b"}), (std::vector<std::string>{"backup", "blank"}));
    EXPECT_EQ(offered({"--lang", ""}), (std::vector<std::string>{"en", "ru"}));
    // --dir takes a folder, also written --dir=FOLDER (bash splits it at '=').
    EXPECT_EQ(offered({"--dir", ""}), (std::vector<std::string>{"dumps", "old phones"}));
    EXPECT_EQ(offered({"--dir", "=", "o"}), (std::vector<std::string>{"old phones"}));
    // Free text: nothing to offer for a phone's id or a number of seconds.
    EXPECT_TRUE(offered({"--device", ""}).empty());
    EXPECT_TRUE(offered({"--wait", ""}).empty());
    // An option's value is not taken for a command: after it come the commands again.
    EXPECT_EQ(offered({"--wait", "120", ""}), commands());
}

TEST_F(CliCompletion, ACommandsArgumentsAndOptionsThenTheNextCommand) {
    const std::vector<std::string> regions{"boot", "panic", "pds"};
    const std::vector<std::string> files{"dumps", "new image.bin", "old phones", "pds.bin"};
    EXPECT_EQ(offered({"read", ""}), regions);
    EXPECT_EQ(offered({"write", ""}), regions);
    EXPECT_EQ(offered({"write", "p"}), (std::vector<std::string>{"panic", "pds"}));
    // The image: a file, its name with a space kept whole.
    EXPECT_EQ(offered({"write", "pds", ""}), files);
    EXPECT_EQ(offered({"write", "pds", "n"}), (std::vector<std::string>{"new image.bin"}));
    EXPECT_EQ(offered({"write", "pds", "pds.bin", "-"}),
              (std::vector<std::string>{"--backup", "--changed-only", "--help", "--no-verify"}));
    EXPECT_EQ(offered({"write", "pds", "pds.bin", "--backup", ""}), files);
    EXPECT_EQ(offered({"read", "pds", "-"}), (std::vector<std::string>{"--help", "-o"}));
    EXPECT_EQ(offered({"read", "pds", "-o", "p"}), (std::vector<std::string>{"pds.bin"}));
    // A finished command is followed by the next one.
    EXPECT_EQ(offered({"read", "pds", "-o", "old.bin", "w"}), (std::vector<std::string>{"write"}));
    EXPECT_EQ(offered({"-q", "--dir", "dumps", "write", "boot", "pds.bin", "st"}),
              (std::vector<std::string>{"start"}));
    // backup's folder may be left out, so the commands are offered beside the folders; a command
    // word there is the next command, not the folder.
    std::vector<std::string> folderOrCommand = commands();
    folderOrCommand.insert(folderOrCommand.end(), {"dumps", "old phones"});
    EXPECT_EQ(offered({"backup", ""}), sorted(folderOrCommand));
    EXPECT_EQ(offered({"backup", "start", ""}), commands());
    EXPECT_EQ(offered({"backup", "dumps", "s"}), (std::vector<std::string>{"start"}));
    EXPECT_EQ(offered({"help", ""}), commands());
    // restore takes a folder; list and info their --json.
    EXPECT_EQ(offered({"restore", ""}), (std::vector<std::string>{"dumps", "old phones"}));
    EXPECT_EQ(offered({"list", "-"}), (std::vector<std::string>{"--help", "--json"}));
}

}  // namespace
}  // namespace norvale
