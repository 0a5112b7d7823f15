// Seam: the station window as its controller sees it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvale {

// The phone list's columns, left to right. The progress column shows a bar, not text.
enum class StationColumn {
    place,
    road,
    boot,
    step,
    progress,
    bytes,
    rate,
    left,
    result,
};
inline constexpr std::size_t kStationColumns = 9;

// One row of the phone list as it is drawn: its cells' texts (UTF-8), the bar's share in
// thousandths and how the row stands out. A phone the operator stopped is no phone that failed:
// its row does not stand out as one.
struct StationRowCells {
    enum class Look { running, done, failed, stopped };
    std::array<std::string, kStationColumns> cells;
    unsigned progressPermille = 0;
    Look look = Look::running;

    bool operator==(const StationRowCells&) const = default;
};

// Contract: every call comes on the UI thread and returns at once, except the choosers and the
// questions, which block in a modal dialog of the window until the operator closes
// it (the window's timer goes on meanwhile). Controls are named by their resource ids. Texts in
// and out are UTF-8, paths among them: the file bindings under the window open UTF-8 names, so
// a path is shown, typed, saved and opened as the same characters.
class StationView {
public:
    virtual ~StationView() = default;

    virtual void setCaption(std::string_view text) = 0;
    virtual void setText(int control, std::string_view text) = 0;
    virtual std::string text(int control) = 0;
    virtual void enable(int control, bool enabled) = 0;
    virtual void setChecked(int control, bool checked) = 0;
    virtual bool checked(int control) = 0;
    // A control shown or hidden; the window's layout makes room for it only while it is shown.
    virtual void show(int control, bool shown) = 0;

    // The chain's list: one line per step; the index of the selected one, or -1.
    virtual void setSteps(const std::vector<std::string>& lines) = 0;
    virtual int selectedStep() = 0;
    // The places' list, each with its tick box, and what is ticked now.
    virtual void setPlaces(const std::vector<std::string>& places,
                           const std::vector<bool>& ticked) = 0;
    virtual std::vector<bool> placeTicks() = 0;

    virtual void setColumns(const std::array<std::string, kStationColumns>& headers) = 0;
    // The phone list becomes `rows`; only the rows that differ from those shown are redrawn.
    virtual void showRows(const std::vector<StationRowCells>& rows) = 0;
    // The taskbar button: a share of the whole, in red once a phone failed; end() takes it off.
    virtual void showOverall(std::uint64_t done, std::uint64_t total, bool failed) = 0;
    virtual void endOverall() = 0;

    // Nullopt when the operator cancelled.
    virtual std::optional<std::string> chooseImageFile() = 0;
    virtual std::optional<std::string> chooseFolder(std::string_view title) = 0;
    virtual std::optional<std::string> chooseJournalFile() = 0;
    // A recipe to open (`save` false: an existing file) or a name to save one under (`save`: the
    // dialog asks nothing about an existing file, which the save refuses with its name).
    virtual std::optional<std::string> chooseRecipeFile(bool save) = 0;
    // A yes/no question; true for yes.
    virtual bool ask(std::string_view question) = 0;
    virtual void tell(std::string_view text) = 0;
    // A phone's log in a window of its own beside the main one, which stays usable: opened, or
    // brought up to date when open, with `lines`; returns at once. logShown(): still open.
    virtual void showLog(std::string_view title, const std::vector<std::string>& lines) = 0;
    virtual bool logShown() = 0;
    // The window's place and its list's column widths, as text the view alone reads; "" for the
    // view's own defaults. A layout that no longer fits the screens is ignored.
    virtual std::string windowLayout() = 0;
    virtual void setWindowLayout(std::string_view layout) = 0;
    // While phones are written, a shutdown or logoff is held back with the window's reason.
    virtual void blockShutdown(bool blocked) = 0;

    // The folder the program runs in, where a station's folders go until one is chosen.
    virtual std::string currentFolder() = 0;

    // The redraw timer: onTimer() every `ms` until stopped.
    virtual void startTimer(unsigned ms) = 0;
    virtual void stopTimer() = 0;
    // Ends the window; the controller calls it only once nothing it started runs.
    virtual void close() = 0;
};

// Contract: where the window's settings live between starts. load() gives the text saved last,
// or nullopt when there is none or it can't be read; save() replaces it whole (a crash leaves the
// old text or the new one, never a mix) and says whether it did.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<std::string> load() = 0;
    virtual bool save(std::string_view text) = 0;
};

}  // namespace norvale
