// The station window's decisions.
#include "ui/StationWindowController.h"

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <utility>
#include <variant>

#include "station/ConsoleText.h"
#include "station/StationEngine.h"
#include "ui/StationRowText.h"
#include "ui/StationSetupPlan.h"
#include "ui/resources/resource.h"

namespace norvale {
namespace {

// A message as the window shows it: its names are UTF-8 already.
std::string windowText(const Message& message, Language language) {
    return consoleText(message, language, [](std::string_view utf8) { return std::string(utf8); });
}

// The controls that change the chain or what it is run with: locked while phones are served.
constexpr int kChainControls[] = {
    IDC_ST_BACKUP,        IDC_ST_RESTORE,   IDC_ST_START_PHONE,    IDC_ST_BLANK,
    IDC_ST_WRITE_BOOT,    IDC_ST_WRITE_PDS, IDC_ST_WRITE_PANIC,    IDC_ST_WRITE_BLOCKS,
    IDC_ST_FROM,          IDC_ST_TO,        IDC_ST_VERIFY,         IDC_ST_CHANGED_ONLY,
    IDC_ST_CLONE_PDS,     IDC_ST_STEPS,     IDC_ST_REMOVE_STEP,    IDC_ST_CLEAR_STEPS,
    IDC_ST_CHOOSE_FOLDER, IDC_ST_JOURNAL,   IDC_ST_CHOOSE_JOURNAL, IDC_ST_ALL_PLACES,
    IDC_ST_TICKED_PLACES, IDC_ST_PLACES,    IDC_ST_START,          IDC_ST_OPEN_RECIPE,
    IDC_ST_SAVE_RECIPE,
};

struct Label {
    int control;
    StationText text;
};

constexpr Label kLabels[] = {
    {IDC_ST_CHAIN_GROUP, StationText::chainGroup},
    {IDC_ST_BACKUP, StationText::backup},
    {IDC_ST_RESTORE, StationText::restore},
    {IDC_ST_START_PHONE, StationText::startPhone},
    {IDC_ST_BLANK, StationText::blank},
    {IDC_ST_WRITE_BOOT, StationText::writeBoot},
    {IDC_ST_WRITE_PDS, StationText::writePds},
    {IDC_ST_WRITE_PANIC, StationText::writePanic},
    {IDC_ST_WRITE_BLOCKS, StationText::writeBlocks},
    {IDC_ST_FROM_LABEL, StationText::from},
    {IDC_ST_TO_LABEL, StationText::to},
    {IDC_ST_VERIFY, StationText::verify},
    {IDC_ST_CHANGED_ONLY, StationText::changedOnly},
    {IDC_ST_CLONE_PDS, StationText::clonePds},
    {IDC_ST_CLONE_PDS_WARNING, StationText::clonePdsWarning},
    {IDC_ST_REMOVE_STEP, StationText::removeStep},
    {IDC_ST_CLEAR_STEPS, StationText::clearSteps},
    {IDC_ST_FOLDER_LABEL, StationText::folder},
    {IDC_ST_JOURNAL_LABEL, StationText::journal},
    {IDC_ST_PLACES_GROUP, StationText::placesGroup},
    {IDC_ST_ALL_PLACES, StationText::allPlaces},
    {IDC_ST_TICKED_PLACES, StationText::tickedPlaces},
    {IDC_ST_COMMAND_LABEL, StationText::commandLine},
    {IDC_ST_START, StationText::start},
    {IDC_ST_STOP, StationText::stop},
    {IDC_ST_CHOOSE_FOLDER, StationText::chooseFolderButton},
    {IDC_ST_CHOOSE_JOURNAL, StationText::chooseJournalButton},
    {IDC_ST_OPEN_RECIPE, StationText::openRecipe},
    {IDC_ST_SAVE_RECIPE, StationText::saveRecipe},
};

// The block range's fields as the dialog starts them.
constexpr char kInitialStart[] = "10010000";
constexpr char kInitialEnd[] = "1001FFFF";

}  // namespace

StationWindowController::StationWindowController(StationView& view, SettingsStore& settings,
                                                 StationLauncher launcher, Language language,
                                                 bool simulated, const RecipeShelf* recipes)
    : view_(view),
      settings_(settings),
      launcher_(std::move(launcher)),
      language_(language),
      simulated_(simulated),
      recipes_(recipes) {}

StationWindowController::~StationWindowController() {
    // The window's objects outlive the controller; the engine must not outlive either.
    if (engine_) engine_->requestStop();
    if (worker_.joinable()) worker_.join();
}

std::string_view StationWindowController::text(StationText id) const {
    return stationText(id, language_);
}

void StationWindowController::onInit(bool startAtOnce) {
    view_.setCaption(text(StationText::caption));
    for (const Label& label : kLabels) view_.setText(label.control, text(label.text));
    view_.setColumns(stationColumnHeaders(language_));
    view_.setText(IDC_ST_FROM, kInitialStart);
    view_.setText(IDC_ST_TO, kInitialEnd);
    if (const auto saved = settings_.load()) setup_ = parseStationSetup(*saved);
    view_.setWindowLayout(setup_.windowLayout);
    if (setup_.folder.empty()) setup_.folder = view_.currentFolder();
    showSetup();
    view_.enable(IDC_ST_STOP, false);
    view_.show(IDC_ST_JOURNAL_ALARM, false);
    view_.setText(IDC_ST_STATUS, stationStatusLine(StationStatus{}, language_));
    if (startAtOnce) start();
}

void StationWindowController::showSetup() {
    std::vector<std::string> lines;
    for (const SetupStep& step : setup_.steps) lines.push_back(stepLine(step));
    view_.setSteps(lines);
    view_.setChecked(IDC_ST_VERIFY, setup_.verify);
    view_.setChecked(IDC_ST_CHANGED_ONLY, setup_.changedOnly);
    view_.setChecked(IDC_ST_CLONE_PDS, setup_.clonePds);
    view_.setText(IDC_ST_FOLDER, setup_.folder);
    view_.setText(IDC_ST_JOURNAL, setup_.journal);
    view_.setChecked(IDC_ST_ALL_PLACES, setup_.allPlaces);
    view_.setChecked(IDC_ST_TICKED_PLACES, !setup_.allPlaces);
    showPlaces();
    refresh();
}

void StationWindowController::showPlaces() {
    std::vector<bool> ticked;
    for (const std::string& place : setup_.knownPlaces) {
        ticked.push_back(std::find(setup_.tickedPlaces.begin(), setup_.tickedPlaces.end(), place) !=
                         setup_.tickedPlaces.end());
    }
    // Filling the list ticks its boxes one by one; those are not the operator's changes.
    placesBeingShown_ = true;
    view_.setPlaces(setup_.knownPlaces, ticked);
    placesBeingShown_ = false;
    view_.enable(IDC_ST_PLACES, !setup_.allPlaces && !running());
}

// The command line follows every change, and what the window is set to is saved with it, so a
// crash loses nothing the operator chose.
void StationWindowController::refresh() {
    auto plan = stationPlan(setup_, simulated_);
    std::string caption(text(StationText::caption));
    if (!setup_.recipe.empty()) {
        // The command line that runs the recipe names it, not its steps: the file is the chain.
        if (plan) plan->recipe = RecipeStamp{setup_.recipe, {}};
        const std::size_t slash = setup_.recipe.find_last_of("\\/");
        caption += " - " + setup_.recipe.substr(slash == std::string::npos ? 0 : slash + 1);
    }
    view_.setCaption(caption);
    view_.setText(IDC_ST_COMMAND_LINE, plan ? stationCommandLine(*plan) : std::string());
    settings_.save(formatStationSetup(setup_));
}

void StationWindowController::chainChanged() {
    setup_.recipe.clear();
    showSetup();
}

void StationWindowController::tellMessages(const std::vector<Message>& messages) {
    std::string told;
    for (const Message& message : messages) {
        if (!told.empty()) told += "\n";
        told += windowText(message, language_);
    }
    if (!told.empty()) view_.tell(told);
}

std::optional<StationPlan> StationWindowController::loadRecipe(const std::string& name,
                                                               bool withPlaces) {
    auto read = recipes_->open(name);
    if (const auto* refusal = std::get_if<std::vector<Message>>(&read)) {
        tellMessages(*refusal);
        return std::nullopt;
    }
    StationPlan& plan = std::get<StationPlan>(read);
    std::vector<SetupStep> steps;
    std::optional<std::pair<bool, bool>> checks;  // the writes' verify and changed-only
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        auto step = setupStep(plan.steps[i]);
        const auto* write = std::get_if<WriteStep>(&plan.steps[i]);
        const std::pair<bool, bool> own =
            write ? std::pair{write->verify, write->changedOnly} : std::pair{false, false};
        // The window's two boxes hold one choice for every write.
        if (!step || (write && checks && *checks != own)) {
            view_.tell(std::string(text(StationText::recipeStepNotShown)) + "\n" +
                       plan.stepTexts[i]);
            return std::nullopt;
        }
        if (write) checks = own;
        steps.push_back(std::move(*step));
    }
    setup_.steps = std::move(steps);
    if (checks) std::tie(setup_.verify, setup_.changedOnly) = *checks;
    if (withPlaces && !plan.ports.empty()) {
        setup_.allPlaces = false;
        setup_.tickedPlaces = plan.ports;
        for (const std::string& place : plan.ports) {
            if (std::find(setup_.knownPlaces.begin(), setup_.knownPlaces.end(), place) ==
                setup_.knownPlaces.end()) {
                setup_.knownPlaces.push_back(place);
            }
        }
    }
    if (withPlaces && plan.journal) setup_.journal = *plan.journal;
    setup_.recipe = name;
    showSetup();
    return std::move(plan);
}

void StationWindowController::openRecipe() {
    if (recipes_ == nullptr) return;
    if (const auto name = view_.chooseRecipeFile(false)) loadRecipe(*name, true);
}

void StationWindowController::saveRecipe() {
    if (recipes_ == nullptr) return;
    const auto plan = stationPlan(setup_, simulated_);
    if (setup_.steps.empty() || !plan) {
        view_.tell(text(setup_.steps.empty() ? StationText::noSteps : StationText::noPlaces));
        return;
    }
    const auto name = view_.chooseRecipeFile(true);
    if (!name) return;
    if (const auto refusal = recipes_->save(*name, *plan)) {
        tellMessages({*refusal});
        return;
    }
    setup_.recipe = *name;
    refresh();
}

std::string StationWindowController::stepLine(const SetupStep& step) {
    switch (step.kind) {
        case SetupStep::Kind::backup: return std::string(text(StationText::stepBackup));
        case SetupStep::Kind::start: return std::string(text(StationText::stepStart));
        case SetupStep::Kind::blank: return std::string(text(StationText::stepBlank));
        case SetupStep::Kind::restore:
            return std::string(text(StationText::stepRestore)) + " " + step.path;
        case SetupStep::Kind::writeBoot:
            return std::string(text(StationText::stepWrite)) + " Boot " + step.path;
        case SetupStep::Kind::writePds:
            return std::string(text(StationText::stepWrite)) + " PDS " + step.path;
        case SetupStep::Kind::writePanic:
            return std::string(text(StationText::stepWrite)) + " Panic " + step.path;
        case SetupStep::Kind::writeBlocks:
            return std::string(text(StationText::stepWrite)) + " " + step.startText + "-" +
                   step.endText + " " + step.path;
    }
    return {};
}

void StationWindowController::addStep(SetupStep step) {
    setup_.steps.push_back(std::move(step));
    chainChanged();
}

void StationWindowController::addWrite(SetupStep::Kind kind) {
    const auto file = view_.chooseImageFile();
    if (!file) return;
    SetupStep step;
    step.kind = kind;
    step.path = *file;
    addStep(std::move(step));
}

void StationWindowController::addBlocks() {
    SetupStep step;
    step.kind = SetupStep::Kind::writeBlocks;
    step.startText = view_.text(IDC_ST_FROM);
    step.endText = view_.text(IDC_ST_TO);
    std::transform(step.startText.begin(), step.startText.end(), step.startText.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    std::transform(step.endText.begin(), step.endText.end(), step.endText.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    // Refused before the file dialog, so the operator fixes the range first: a range must be
    // hex addresses in order that cover at least one whole flash block.
    const auto range = typedRange(step.startText, step.endText);
    if (!range || !blockWrite(*range, "image")) {
        view_.tell(text(StationText::badBlockRange));
        return;
    }
    const auto file = view_.chooseImageFile();
    if (!file) return;
    step.path = *file;
    addStep(std::move(step));
}

void StationWindowController::onCommand(int control) {
    if (control == IDC_ST_STOP) {
        if (running()) engine_->requestStop();
        view_.enable(IDC_ST_STOP, false);
        return;
    }
    // The red line goes once the operator clicked it: seen. The close question still asks.
    if (control == IDC_ST_JOURNAL_ALARM) {
        view_.show(IDC_ST_JOURNAL_ALARM, false);
        return;
    }
    // Nothing of the chain changes while it runs, even if a click slips past the locked buttons.
    if (running()) return;
    switch (control) {
        case IDC_ST_BACKUP: addStep({SetupStep::Kind::backup}); return;
        case IDC_ST_START_PHONE: addStep({SetupStep::Kind::start}); return;
        case IDC_ST_BLANK: addStep({SetupStep::Kind::blank}); return;
        case IDC_ST_WRITE_BOOT: addWrite(SetupStep::Kind::writeBoot); return;
        case IDC_ST_WRITE_PDS: addWrite(SetupStep::Kind::writePds); return;
        case IDC_ST_WRITE_PANIC: addWrite(SetupStep::Kind::writePanic); return;
        case IDC_ST_WRITE_BLOCKS: addBlocks(); return;
        case IDC_ST_RESTORE:
            if (const auto folder = view_.chooseFolder(text(StationText::chooseRestoreFolder))) {
                addStep({SetupStep::Kind::restore, *folder});
            }
            return;
        case IDC_ST_REMOVE_STEP: {
            const int selected = view_.selectedStep();
            if (selected < 0 || static_cast<std::size_t>(selected) >= setup_.steps.size()) return;
            setup_.steps.erase(setup_.steps.begin() + selected);
            chainChanged();
            return;
        }
        case IDC_ST_CLEAR_STEPS:
            setup_.steps.clear();
            chainChanged();
            return;
        case IDC_ST_VERIFY:
            setup_.verify = view_.checked(IDC_ST_VERIFY);
            chainChanged();
            return;
        case IDC_ST_CHANGED_ONLY:
            setup_.changedOnly = view_.checked(IDC_ST_CHANGED_ONLY);
            chainChanged();
            return;
        case IDC_ST_OPEN_RECIPE: openRecipe(); return;
        case IDC_ST_SAVE_RECIPE: saveRecipe(); return;
        case IDC_ST_CLONE_PDS:
            setup_.clonePds = view_.checked(IDC_ST_CLONE_PDS);
            refresh();
            return;
        case IDC_ST_ALL_PLACES:
        case IDC_ST_TICKED_PLACES:
            setup_.allPlaces = view_.checked(IDC_ST_ALL_PLACES);
            view_.enable(IDC_ST_PLACES, !setup_.allPlaces);
            refresh();
            return;
        case IDC_ST_CHOOSE_FOLDER:
            if (const auto folder = view_.chooseFolder(text(StationText::chooseFolder))) {
                setup_.folder = *folder;
                showSetup();
            }
            return;
        case IDC_ST_CHOOSE_JOURNAL:
            if (const auto journal = view_.chooseJournalFile()) {
                setup_.journal = *journal;
                showSetup();
            }
            return;
        case IDC_ST_START: start(); return;
        default: return;
    }
}

void StationWindowController::onJournalEdited() {
    if (running()) return;
    // The field shows the path as the operator reads it; the path itself is kept as typed only
    // when it reads the same back, which an ANSI path always does.
    const std::string typed = view_.text(IDC_ST_JOURNAL);
    if (setup_.journal == typed) return;
    setup_.journal = typed;
    refresh();
}

void StationWindowController::onPlacesChanged() {
    if (placesBeingShown_ || running()) return;
    const std::vector<bool> ticks = view_.placeTicks();
    setup_.tickedPlaces.clear();
    for (std::size_t i = 0; i < ticks.size() && i < setup_.knownPlaces.size(); ++i) {
        if (ticks[i]) setup_.tickedPlaces.push_back(setup_.knownPlaces[i]);
    }
    refresh();
}

void StationWindowController::lockChain(bool locked) {
    for (const int control : kChainControls) view_.enable(control, !locked);
    if (!locked) view_.enable(IDC_ST_PLACES, !setup_.allPlaces);
    view_.enable(IDC_ST_STOP, locked);
}

void StationWindowController::start() {
    if (setup_.steps.empty()) {
        view_.tell(text(StationText::noSteps));
        return;
    }
    auto plan = stationPlan(setup_, simulated_);
    if (!plan) {
        view_.tell(text(!setup_.allPlaces && setup_.tickedPlaces.empty()
                            ? StationText::noPlaces
                            : StationText::badBlockRange));
        return;
    }
    // A recipe is read again at each Start, as the command line reads it at each run: the chain
    // and the pins are the file's as it is now. The folder, the journal and the places are the
    // window's, as a command line's own options go before the recipe's.
    if (!setup_.recipe.empty() && recipes_ != nullptr) {
        auto read = loadRecipe(setup_.recipe, false);
        if (!read) return;
        read->workingFolder = plan->workingFolder;
        read->journal = plan->journal;
        read->ports = plan->ports;
        read->simulated = plan->simulated;
        read->clonePds = plan->clonePds;
        plan = std::move(read);
    }
    if (worker_.joinable()) worker_.join();
    // The log window keeps the last run's lines; it follows no phone of the new run.
    loggedArrival_.reset();
    closing_ = false;
    journalLost_ = 0;
    view_.show(IDC_ST_JOURNAL_ALARM, false);
    engine_.reset();
    std::unique_ptr<StationEngine> engine = launcher_(*plan);
    if (!engine) {
        view_.tell(text(StationText::cannotStart));
        return;
    }
    engine_ = std::move(engine);
    ended_.store(false);
    StationEngine& running = *engine_;
    worker_ = std::thread([this, &running] {
        running.run();
        ended_.store(true);
    });
    lockChain(true);
    view_.startTimer(kRedrawMs);
    redraw();
}

void StationWindowController::onTimer() {
    if (!engine_) return;
    redraw();
    if (ended_.load() && worker_.joinable()) finish();
}

void StationWindowController::finish() {
    worker_.join();
    view_.stopTimer();
    const StationStatus status = redraw();
    lockChain(false);
    if (closing_) {
        closeWindow();
        return;
    }
    refresh();
    // The station's own lines (a file it could not read) belong to no row: the operator is told
    // them once it ended. A journal line it could not write is in the red line already.
    std::vector<Message> told;
    for (const Message& line : status.stationLines) {
        if (line != status.journalFailure) told.push_back(line);
    }
    tellMessages(told);
}

// A journal line lost is said while the run goes on, not after it: a shift's run may last all
// day, and the rows stay green whatever the journal missed.
void StationWindowController::showJournalLoss(const StationStatus& snapshot) {
    if (snapshot.journalFailures <= journalLost_ || !snapshot.journalFailure) return;
    journalLost_ = snapshot.journalFailures;
    view_.setText(IDC_ST_JOURNAL_ALARM, windowText(*snapshot.journalFailure, language_) + "; " +
                                            std::string(text(StationText::journalLinesLost)) + " " +
                                            std::to_string(journalLost_) + " " +
                                            std::string(text(StationText::journalAlarmHide)));
    view_.show(IDC_ST_JOURNAL_ALARM, true);
}

StationStatus StationWindowController::redraw() {
    StationStatus snapshot = engine_->snapshot();
    std::vector<StationRowCells> rows;
    rows.reserve(snapshot.rows.size());
    std::uint64_t shares = 0;
    bool newPlace = false;
    bool writing = false;
    for (const PhoneRow& row : snapshot.rows) {
        rows.push_back(stationRowCells(row, language_));
        shares += chainPermille(row);
        writing = writing || phoneBeingWritten(row);
        if (std::find(setup_.knownPlaces.begin(), setup_.knownPlaces.end(), row.place) ==
            setup_.knownPlaces.end()) {
            setup_.knownPlaces.push_back(row.place);
            newPlace = true;
        }
    }
    view_.showRows(rows);
    view_.setText(IDC_ST_STATUS, stationStatusLine(snapshot, language_));
    if (rows.empty()) {
        view_.endOverall();
    } else {
        view_.showOverall(shares, rows.size() * std::uint64_t{1000}, failedPhones(snapshot) > 0);
    }
    if (newPlace) showPlaces();
    if (writing != shutdownBlocked_) {
        view_.blockShutdown(writing);
        shutdownBlocked_ = writing;
    }
    showJournalLoss(snapshot);
    followLog(snapshot);
    return snapshot;
}

void StationWindowController::followLog(const StationStatus& snapshot) {
    if (!loggedArrival_ || !engine_) return;
    if (!view_.logShown()) {
        loggedArrival_.reset();
        return;
    }
    const auto row =
        std::find_if(snapshot.rows.begin(), snapshot.rows.end(),
                     [this](const PhoneRow& r) { return r.arrival == *loggedArrival_; });
    // The row tells how many lines the log holds: it is read only when that changed.
    if (row == snapshot.rows.end() || row->logLines == loggedLines_) return;
    const std::vector<Message> log = engine_->logOf(*loggedArrival_);
    const std::string place = row->place;
    // A phone that ended while its log was followed has handed its lines to its log file: the
    // window keeps what it showed and adds where the whole log now is, rather than losing it.
    const bool movedToFile = log.size() == 1 && log.front().id == MessageId::phoneLogInFile;
    std::vector<std::string> lines = movedToFile ? loggedText_ : std::vector<std::string>{};
    for (const Message& message : log) {
        lines.push_back(windowText(message, language_));
    }
    loggedLines_ = row->logLines;
    loggedText_ = lines;
    view_.showLog(std::string(text(StationText::logTitle)) + ": " + place, lines);
}

void StationWindowController::onRowActivated(int row) {
    if (!engine_ || row < 0) return;
    const StationStatus snapshot = engine_->snapshot();
    if (static_cast<std::size_t>(row) >= snapshot.rows.size()) return;
    loggedArrival_ = snapshot.rows[static_cast<std::size_t>(row)].arrival;
    loggedLines_ = static_cast<std::size_t>(-1);  // shown afresh, even when as long as the last
    loggedText_.clear();
    // The window is opened before its lines are read, so that it stays open to follow them.
    view_.showLog(std::string(text(StationText::logTitle)) + ": " +
                      snapshot.rows[static_cast<std::size_t>(row)].place,
                  {});
    followLog(snapshot);
}

void StationWindowController::closeWindow() {
    setup_.windowLayout = view_.windowLayout();
    settings_.save(formatStationSetup(setup_));
    if (shutdownBlocked_) view_.blockShutdown(false);
    shutdownBlocked_ = false;
    view_.close();
}

void StationWindowController::onClose() {
    // A journal that lost lines is asked about even when the red line was clicked away: closing
    // is how a shift ends, and the operator may not have been there to see it.
    const std::string lost =
        journalLost_ > 0 ? std::string(text(StationText::journalIncomplete)) + "\n" : "";
    if (!running()) {
        if (journalLost_ > 0 && !view_.ask(lost + std::string(text(StationText::askClose)))) return;
        closeWindow();
        return;
    }
    if (closing_) return;
    const std::size_t served = engine_->snapshot().running;
    const std::string question =
        lost +
        (served > 0 ? std::string(text(StationText::servedCount)) + " " + std::to_string(served)
                    : std::string(text(StationText::noneServed))) +
        "\n" + std::string(text(StationText::askStop));
    if (!view_.ask(question)) return;
    // The run may have ended while the question was up (its timer goes on): nothing is left to
    // wait for then.
    if (!running()) {
        closeWindow();
        return;
    }
    closing_ = true;
    engine_->requestStop();
    view_.enable(IDC_ST_STOP, false);
}

bool StationWindowController::onQueryEndSession() { return !shutdownBlocked_; }

void StationWindowController::onEndSession() {
    if (engine_) engine_->requestStop();
    if (worker_.joinable()) worker_.join();
    view_.stopTimer();
    closeWindow();
}

}  // namespace norvale
