// A station view that keeps what the controller shows and answers as a scripted operator would.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/StationView.h"

namespace norvale::testing {

class FakeStationView final : public StationView {
public:
    void setCaption(std::string_view text) override { caption = text; }
    void setText(int control, std::string_view text) override { texts[control] = text; }
    std::string text(int control) override { return texts[control]; }
    void enable(int control, bool enabled) override { disabled[control] = !enabled; }
    void setChecked(int control, bool checked) override { checks[control] = checked; }
    bool checked(int control) override { return checks[control]; }
    void show(int control, bool shown) override { hidden[control] = !shown; }
    void setSteps(const std::vector<std::string>& lines) override { steps = lines; }
    int selectedStep() override { return selected; }
    void setPlaces(const std::vector<std::string>& shown,
                   const std::vector<bool>& shownTicks) override {
        places = shown;
        ticks = shownTicks;
    }
    std::vector<bool> placeTicks() override { return ticks; }
    void setColumns(const std::array<std::string, kStationColumns>& shown) override {
        headers = shown;
    }
    void showRows(const std::vector<StationRowCells>& shown) override {
        rows = shown;
        ++redraws;
    }
    void showOverall(std::uint64_t done, std::uint64_t total, bool failed) override {
        overall = {done, total, failed};
    }
    void endOverall() override { overall.reset(); }
    std::optional<std::string> chooseImageFile() override { return next(files); }
    std::optional<std::string> chooseFolder(std::string_view) override { return next(folders); }
    std::optional<std::string> chooseJournalFile() override { return next(journals); }
    std::optional<std::string> chooseRecipeFile(bool) override { return next(recipes); }
    bool ask(std::string_view question) override {
        asked.emplace_back(question);
        return answerYes;
    }
    void tell(std::string_view text) override { told.emplace_back(text); }
    void showLog(std::string_view title, const std::vector<std::string>& lines) override {
        logTitle = title;
        logLines = lines;
    }
    bool logShown() override { return logOpen; }
    std::string windowLayout() override { return layout; }
    void setWindowLayout(std::string_view shown) override { layout = shown; }
    void blockShutdown(bool blocked) override { shutdownBlocked = blocked; }
    std::string currentFolder() override { return folderHere; }
    void startTimer(unsigned ms) override { timerMs = ms; }
    void stopTimer() override { timerMs = 0; }
    void close() override { ++closed; }

    bool isEnabled(int control) { return !disabled[control]; }

    struct Overall {
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        bool failed = false;
        bool operator==(const Overall&) const = default;
    };

    std::string folderHere = "here";
    std::string caption;
    std::map<int, std::string> texts;
    std::map<int, bool> disabled;
    std::map<int, bool> checks;
    std::map<int, bool> hidden;
    std::vector<std::string> steps;
    int selected = -1;
    std::vector<std::string> places;
    std::vector<bool> ticks;
    std::array<std::string, kStationColumns> headers;
    std::vector<StationRowCells> rows;
    int redraws = 0;
    std::optional<Overall> overall;
    // What the choosers give, in turn; nullopt (or nothing left) is a cancel.
    std::deque<std::optional<std::string>> files, folders, journals, recipes;
    bool answerYes = true;
    std::vector<std::string> asked, told;
    std::string logTitle;
    std::vector<std::string> logLines;
    bool logOpen = true;
    std::string layout;
    bool shutdownBlocked = false;
    unsigned timerMs = 0;
    int closed = 0;

private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& queue) {
        if (queue.empty()) return std::nullopt;
        auto answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

// Settings kept in memory, as the profile's file would keep them.
class MemorySettings final : public SettingsStore {
public:
    std::optional<std::string> load() override { return saved; }
    bool save(std::string_view text) override {
        saved = std::string(text);
        ++saves;
        return true;
    }
    std::optional<std::string> saved;
    int saves = 0;
};

}  // namespace norvale::testing
