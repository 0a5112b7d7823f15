// A plan's write checks, its steps' texts, and the norvale-cli run that does the same.
#include "station/StationPlan.h"

namespace norvale {
namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        if (!text.empty()) text += ' ';
        text += word;
    }
    return text;
}

// One argument as the C runtime reads it back: as it is when nothing in it needs quoting; else in
// quotes, a quote inside escaped with a backslash, and the backslashes before a quote (the closing
// one included) doubled, since only there do they escape anything.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        text.append(backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

}  // namespace

void setWriteChecks(StationPlan& plan, bool verify, bool changedOnly) {
    for (ChainStep& step : plan.steps) {
        if (auto* write = std::get_if<WriteStep>(&step)) {
            write->verify = verify;
            write->changedOnly = changedOnly;
        }
    }
}

void typeStepTexts(StationPlan& plan) {
    plan.stepTexts.clear();
    for (const ChainStep& step : plan.steps) plan.stepTexts.push_back(joined(stepArguments(step)));
}

std::vector<std::string> stationArguments(const StationPlan& plan) {
    std::vector<std::string> args{"--station"};
    if (plan.simulated) args.push_back("--sim");
    if (plan.workingFolder) args.insert(args.end(), {"--dir", *plan.workingFolder});
    if (plan.journal) args.insert(args.end(), {"--journal", *plan.journal});
    for (const std::string& port : plan.ports) args.insert(args.end(), {"--port", port});
    if (plan.count) args.insert(args.end(), {"--count", std::to_string(*plan.count)});
    if (plan.clonePds) args.push_back("--clone-pds");
    if (plan.recipe) {
        args.insert(args.end(), {"--recipe", plan.recipe->path});
        return args;
    }
    for (const ChainStep& step : plan.steps) {
        const std::vector<std::string> words = stepArguments(step);
        args.insert(args.end(), words.begin(), words.end());
    }
    return args;
}

std::string stationCommandLine(const StationPlan& plan) {
    std::string line = "norvale-cli";
    for (const std::string& argument : stationArguments(plan)) line += " " + quoted(argument);
    return line;
}

}  // namespace norvale
