// The station window's decisions: the chain built with its buttons, Start and Stop, what may
// change while phones are served, and what each phone's row says.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/MessageCatalogue.h"
#include "station/RecipeShelf.h"
#include "station/StationModel.h"
#include "ui/StationSetup.h"
#include "ui/StationTexts.h"
#include "ui/StationView.h"

namespace norvale {

class StationEngine;

// Makes the engine for one press of Start over the program's bindings, in the window's language.
// What the plan names is looked at only when the engine runs: a refusal comes back as its
// station lines.
using StationLauncher = std::function<std::unique_ptr<StationEngine>(const StationPlan& plan)>;

// The portable half of the station window. The window procedure calls one handler per message,
// all on the UI thread. The engine runs on a worker thread of the controller's own; the UI thread
// reads only the engine's snapshot, which never waits on a transfer, ten times a second at most.
// The worker is joined before the controller goes, and the window closes only once it ended.
class StationWindowController {
public:
    // `simulated`: the engine serves the simulated phones, and the command line says --sim.
    // `recipes`: how recipes are read and written; without it the recipe buttons do nothing.
    StationWindowController(StationView& view, SettingsStore& settings, StationLauncher launcher,
                            Language language, bool simulated = false,
                            const RecipeShelf* recipes = nullptr);
    StationWindowController(const StationWindowController&) = delete;
    StationWindowController& operator=(const StationWindowController&) = delete;
    ~StationWindowController();

    // WM_INITDIALOG: every text in the window's language, the settings of the last start; with
    // `startAtOnce`, Start pressed with them.
    void onInit(bool startAtOnce = false);
    // A button's click.
    void onCommand(int control);
    void onJournalEdited();
    void onPlacesChanged();
    // The redraw timer.
    void onTimer();
    // A row of the phone list opened (double click, Enter, its context menu): its log, in a
    // window that follows the phone until it is closed.
    void onRowActivated(int row);
    // The close box, WM_CLOSE: at once when idle; while the station runs, after asking (saying
    // how many phones are being served), once every session has stopped. When the last run's
    // journal lost lines the question says so, idle or not.
    void onClose();
    // WM_QUERYENDSESSION: true lets Windows end the session. While a phone is being written the
    // answer is no, with the window's reason shown by Windows.
    bool onQueryEndSession();
    // WM_ENDSESSION: the session ends whatever was answered. Every phone is stopped as Stop does
    // and the engine's worker joined, so each phone's journal line is written before the
    // process goes.
    void onEndSession();

    bool running() const { return engine_ != nullptr && worker_.joinable(); }
    const StationSetup& setup() const { return setup_; }

    // How often the phone list is redrawn while phones are served.
    static constexpr unsigned kRedrawMs = 100;

private:
    void addStep(SetupStep step);
    void addWrite(SetupStep::Kind kind);
    void addBlocks();
    void start();
    void finish();
    // The chain changed by the operator: it is the window's own from now on, no recipe's.
    void chainChanged();
    void openRecipe();
    void saveRecipe();
    // The recipe `name` read into the setup: its chain and, `withPlaces`, its places and journal
    // when it names them. Its plan, or nullopt when it was refused (the operator told why).
    std::optional<StationPlan> loadRecipe(const std::string& name, bool withPlaces);
    void tellMessages(const std::vector<Message>& messages);
    // The engine's snapshot drawn: rows, status line, taskbar; the places seen are kept.
    StationStatus redraw();
    void showSetup();
    void showPlaces();
    void refresh();
    void lockChain(bool locked);
    void closeWindow();
    void followLog(const StationStatus& snapshot);
    void showJournalLoss(const StationStatus& snapshot);
    std::string stepLine(const SetupStep& step);
    std::string_view text(StationText id) const;

    StationView& view_;
    SettingsStore& settings_;
    StationLauncher launcher_;
    Language language_;
    bool simulated_;
    const RecipeShelf* recipes_;
    StationSetup setup_;

    std::unique_ptr<StationEngine> engine_;  // the last run's, kept for its rows and logs
    std::thread worker_;
    std::atomic<bool> ended_{false};
    bool closing_ = false;
    bool placesBeingShown_ = false;
    bool shutdownBlocked_ = false;
    // How many journal lines the run could not write, as the red line says.
    std::size_t journalLost_ = 0;
    // The phone whose log window is open, and how many of its lines it shows.
    std::optional<std::size_t> loggedArrival_;
    std::size_t loggedLines_ = 0;
    std::vector<std::string> loggedText_;  // what the log window shows of that phone
};

}  // namespace norvale
