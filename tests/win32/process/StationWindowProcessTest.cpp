// norvale-station-sim.exe as a process of its own, driven from outside as an operator drives it:
// clicks, typing, the file dialog, the phone list read across the process boundary.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ui/resources/resource.h"
#include "win32/process/ChildProcess.h"
#include "win32/process/RemoteWindow.h"

namespace norvale {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::RemoteList;

constexpr int kResultColumn = 8;
constexpr int kBytesColumn = 5;
constexpr int kStepColumn = 3;

std::string narrow(const std::wstring& wide) {
    std::string out;
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string readFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The names in `folder` that match `pattern` ("*" for all), "." and ".." left out.
std::vector<std::wstring> namesIn(const std::wstring& folder, const std::wstring& pattern,
                                  bool folders) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        const bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (name != L"." && name != L".." && isFolder == folders) names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void putMadeUpBytes(const std::wstring& path, std::size_t count, std::uint32_t state) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>((state >> 16) & 0xFF);
    }
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

void removeTree(const std::wstring& folder) {
    for (const std::wstring& name : namesIn(folder, L"*", true)) removeTree(folder + L"\\" + name);
    for (const std::wstring& name : namesIn(folder, L"*", false)) {
        DeleteFileW((folder + L"\\" + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

// A scratch folder for one test: the operator's profile (APPDATA), the station's working folders
// and the image the chain writes.
class Scratch {
public:
    Scratch() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        root = std::wstring(temp) + L"norvale-station-" + std::to_wstring(GetCurrentProcessId()) +
               L"-" + std::to_wstring(GetTickCount64());
        CreateDirectoryW(root.c_str(), nullptr);
        CreateDirectoryW(appData().c_str(), nullptr);
    }
    ~Scratch() { removeTree(root); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::wstring appData() const { return root + L"\\profile"; }
    // A working folder as a station computer's holds it: the loader images in .\bin and the
    // phone's configuration beside them (made-up bytes: the simulated phone runs any).
    std::wstring workFolder(const std::wstring& name) const {
        const std::wstring path = root + L"\\" + name;
        CreateDirectoryW(path.c_str(), nullptr);
        CreateDirectoryW((path + L"\\bin").c_str(), nullptr);
        putMadeUpBytes(path + L"\\bin\\loader.bin", 5000, 1);
        putMadeUpBytes(path + L"\\bin\\LTE2_jump.bin", 1024, 2);
        putMadeUpBytes(path + L"\\bin\\ram.bin", 2048, 3);
        std::ofstream(std::filesystem::path(path + L"\\KESTRIN.ini"), std::ios::binary)
            << "CG1ADR=100A0000\r\n";
        return path;
    }

    std::wstring root;
};

// What every row of the phone list says, column by column.
using Rows = std::vector<std::vector<std::wstring>>;

std::string describe(const Rows& rows) {
    std::string out;
    for (const auto& row : rows) {
        out += "\n  |";
        for (const std::wstring& cell : row) out += " " + narrow(cell) + " |";
    }
    return rows.empty() ? std::string("\n  (no rows)") : out;
}

// The station window of a running norvale-station-sim.exe, reached only from outside.
class StationWindow {
public:
    // A crash ends the program with the exception's code, which the tests check; Wine's report of
    // it goes to the error output the program shares with the test.
    StationWindow(const std::wstring& folder, const std::vector<std::wstring>& environment,
                  const std::wstring& arguments = L"")
        : program_(testing::builtProgram(L"norvale-station-sim.exe"), arguments, folder,
                   environment) {
        if (!program_.started()) return;
        // The status line is the last control the window fills in as it opens.
        testing::pollUntil(
            [this] {
                for (HWND dialog : testing::dialogsOf(program_.id())) {
                    if (GetDlgItem(dialog, IDC_ST_PHONES) != nullptr &&
                        !testing::windowText(GetDlgItem(dialog, IDC_ST_STATUS)).empty()) {
                        window = dialog;
                        return true;
                    }
                }
                return false;
            },
            20s);
        english = testing::windowText(window).starts_with(L"Norvale Station");
    }

    bool opened() const { return window != nullptr; }
    const ChildProcess& process() const { return program_; }
    HWND item(int id) const { return GetDlgItem(window, id); }
    std::wstring text(int id) const { return testing::windowText(item(id)); }
    void click(int id) const { testing::click(item(id)); }
    void type(int id, const std::wstring& text) const { testing::type(item(id), text); }
    bool checked(int id) const {
        DWORD_PTR state = 0;
        SendMessageTimeoutW(item(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
        return state == BST_CHECKED;
    }
    RemoteList list(int id) const { return RemoteList(program_.handle(), item(id)); }
    std::vector<std::wstring> steps() const { return list(IDC_ST_STEPS).listBoxLines(); }

    // The phone list's rows, all columns or those named.
    Rows rows(std::vector<int> columns = {}) const {
        if (columns.empty()) {
            for (int c = 0; c <= kResultColumn; ++c) columns.push_back(c);
        }
        return list(IDC_ST_PHONES).listViewRows(columns);
    }

    // A modal window of the program other than the station window, once one has opened.
    HWND awaitDialog(const char* what) const {
        HWND found = nullptr;
        const bool opened = testing::pollUntil(
            [&] {
                for (HWND dialog : testing::dialogsOf(program_.id())) {
                    if (dialog != window) found = dialog;
                }
                return found != nullptr;
            },
            10s);
        if (!opened) ADD_FAILURE() << "waited 10 s for " << what << "; none opened";
        return found;
    }

    // Clicks `button` and gives its file dialog `path`; false when no file dialog came.
    bool chooseFile(int button, const std::wstring& path) const {
        click(button);
        HWND chooser = awaitDialog("the file dialog");
        // The file name field of the open dialog (edt1, or cmb13 in the newer layout).
        HWND name = chooser == nullptr ? nullptr : GetDlgItem(chooser, 0x480);
        if (chooser != nullptr && name == nullptr) name = GetDlgItem(chooser, 0x47c);
        if (name == nullptr) return false;
        testing::type(name, path);
        testing::click(GetDlgItem(chooser, IDOK));
        return true;
    }

    // Polls the phone list until `done` holds for its rows; the rows last seen are named when it
    // never does.
    bool awaitRows(const char* what, const std::function<bool(const Rows&)>& done,
                   std::chrono::seconds timeout, const std::vector<int>& columns = {}) const {
        Rows seen;
        if (testing::pollUntil(
                [&] {
                    seen = rows(columns);
                    return done(seen);
                },
                timeout)) {
            return true;
        }
        ADD_FAILURE() << "waited " << timeout.count() << " s for " << what
                      << "; the rows said:" << describe(seen);
        return false;
    }

    // The station ended its run: Start is offered again.
    bool awaitIdle() const {
        const bool idle =
            testing::pollUntil([this] { return IsWindowEnabled(item(IDC_ST_START)) != 0; }, 30s);
        if (!idle) ADD_FAILURE() << "waited 30 s for the run to end (Start enabled again)";
        return idle;
    }

    bool answers() const {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
    }

    // The close box, as the operator's click on it arrives.
    void closeBox() const { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

    HWND window = nullptr;
    bool english = false;

private:
    ChildProcess program_;
};

std::wstring word(bool english, const wchar_t* inEnglish, const wchar_t* inRussian) {
    return english ? inEnglish : inRussian;
}

// The environment of a station with three simulated phones (or `phones`) on the driver road (or
// `road`), its settings kept in the scratch profile.
std::vector<std::wstring> stationEnvironment(const Scratch& scratch, const std::wstring& faults,
                                             const std::wstring& pace, int phones = 3,
                                             const std::wstring& trace = L"",
                                             const std::wstring& road = L"") {
    const std::wstring sim = L"NORVALE_SIM_", count = std::to_wstring(phones);
    return {sim + L"PHONES=" + count, sim + L"FAULTS=" + faults,
            sim + L"PACE=" + pace,    sim + L"ARRIVE=",
            sim + L"RETURN=",         sim + L"TRACE=" + trace,
            sim + L"ROAD=" + road,    L"APPDATA=" + scratch.appData()};
}

// Each phone's folder (by its name without the arrival time) and what its files hold.
std::map<std::string, std::map<std::wstring, std::string>> phoneFolders(const std::wstring& work) {
    std::map<std::string, std::map<std::wstring, std::string>> folders;
    for (const std::wstring& name : namesIn(work, L"sim-*", true)) {
        // "sim-1-20261208-213159": the place, then when the phone came.
        const std::string place =
            narrow(name.substr(0, name.size() - std::min<std::size_t>(16, name.size())));
        auto& files = folders[place];
        for (const std::wstring& file : namesIn(work + L"\\" + name, L"*", false)) {
            std::string bytes = readFile(work + L"\\" + name + L"\\" + file);
            // The phone's log names its folder, whose name holds when the phone came.
            const std::string folder = narrow(name);
            for (std::size_t at = bytes.find(folder); at != std::string::npos;
                 at = bytes.find(folder, at + 1)) {
                bytes.replace(at, folder.size(), place + "-TIME");
            }
            files[file] = bytes;
        }
    }
    return folders;
}

// The journal's lines without the times they were written at (in the fields and in the phones'
// folder names) and the commands took, in order.
std::vector<std::string> journalWithoutTimes(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) {
        for (const char* field : {"\"started\":\"", "\"ended\":\""}) {
            const std::size_t at = line.find(field);
            if (at == std::string::npos) continue;
            const std::size_t value = at + std::strlen(field);
            line.replace(value, line.find('"', value) - value, "TIME");
        }
        // Each command's own time, too.
        line = std::regex_replace(line, std::regex("\"ms\":[0-9]+"), "\"ms\":MS");
        lines.push_back(
            std::regex_replace(line, std::regex("(sim-[0-9]+)-[0-9]{8}-[0-9]{6}"), "$1-TIME"));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(StationWindowProcess, ChainBuiltByClicksServesThreePhonesAsTheCommandLineDoes) {
    Scratch scratch;
    const std::wstring work = scratch.workFolder(L"window");
    const std::wstring cliWork = scratch.workFolder(L"cli");
    // One 128 KB flash block of the image, written to every phone; phone 2's block is worn.
    const std::wstring image = scratch.root + L"\\block.bin";
    std::ofstream(std::filesystem::path(image), std::ios::binary) << std::string(0x20000, '\x5A');
    const auto environment = stationEnvironment(scratch, L"2:stuck@10100000", L"");

    {
        StationWindow station(work, environment);
        ASSERT_TRUE(station.opened()) << "the station window did not open";
        const bool en = station.english;

        // The chain, built as the operator builds it.
        station.click(IDC_ST_BACKUP);
        station.type(IDC_ST_FROM, L"10100000");
        station.type(IDC_ST_TO, L"1011FFFF");
        ASSERT_TRUE(station.chooseFile(IDC_ST_WRITE_BLOCKS, image));
        ASSERT_TRUE(testing::pollUntil([&] { return station.steps().size() == 2; }, 10s))
            << "the written block never joined the chain";
        station.click(IDC_ST_START_PHONE);
        station.type(IDC_ST_JOURNAL, L"journal.jsonl");
        ASSERT_TRUE(testing::pollUntil([&] { return station.steps().size() == 3; }, 10s));

        const std::wstring imageText = image;
        EXPECT_EQ(station.steps(),
                  (std::vector<std::wstring>{
                      word(en, L"backup", L"резервная копия"),
                      word(en, L"write", L"записать") + L" 10100000-1011FFFF " + imageText,
                      word(en, L"start", L"запустить")}));
        const std::wstring command = L"norvale-cli --station --sim --dir " + work +
                                     L" --journal journal.jsonl backup write 10100000-1011FFFF " +
                                     image + L" start";
        EXPECT_EQ(station.text(IDC_ST_COMMAND_LINE), command);

        station.click(IDC_ST_START);
        const std::wstring done = word(en, L"done", L"готово");
        const std::wstring failed = word(en, L"failed: ", L"ошибка: ");
        station.awaitRows(
            "two phones done and one failed",
            [&](const Rows& rows) {
                const auto results = [&](const std::wstring& start) {
                    return std::count_if(rows.begin(), rows.end(), [&](const auto& row) {
                        return row[kResultColumn].starts_with(start);
                    });
                };
                return rows.size() == 3 && results(done) == 2 && results(failed) == 1;
            },
            60s);
        const Rows rows = station.rows();
        ASSERT_EQ(rows.size(), 3u) << describe(rows);
        EXPECT_EQ(rows[1][kResultColumn],
                  failed + word(en, L"the written data differ from the image at address 10100000",
                                L"записанные данные отличаются от образа, адрес: 10100000"))
            << describe(rows);

        // The station serves phones until it is stopped.
        station.click(IDC_ST_STOP);
        ASSERT_TRUE(station.awaitIdle());
        station.closeBox();
        ASSERT_TRUE(station.process().waitForExit(10000)) << "the program did not end";
        EXPECT_EQ(station.process().exitCode(), 0u);
    }

    // The command line with the same chain, on the same phones.
    const std::wstring cliOutput = scratch.root + L"\\cli-output.txt";
    ChildProcess cli(testing::builtProgram(L"norvale-cli.exe"),
                     L"--station --sim --count 3 --journal journal.jsonl backup write "
                     L"10100000-1011FFFF " +
                         image + L" start",
                     cliWork, environment, cliOutput);
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.waitForExit(60000)) << "norvale-cli --station did not end";
    EXPECT_EQ(cli.exitCode(), 6u) << readFile(cliOutput);

    const auto windowFiles = phoneFolders(work);
    const auto cliFiles = phoneFolders(cliWork);
    EXPECT_EQ(windowFiles.size(), 3u);
    EXPECT_EQ(windowFiles, cliFiles);
    const auto windowJournal = journalWithoutTimes(work + L"\\journal.jsonl");
    EXPECT_EQ(windowJournal.size(), 3u);
    EXPECT_EQ(windowJournal, journalWithoutTimes(cliWork + L"\\journal.jsonl"));
}

// What the phones' folders under `work` hold, for a failure's message.
std::string folderListing(const std::wstring& work) {
    std::string out;
    for (const std::wstring& name : namesIn(work, L"sim-*", true)) {
        out += "\n  " + narrow(name) + ":";
        for (const std::wstring& file : namesIn(work + L"\\" + name, L"*", false)) {
            out += " " + narrow(file);
        }
    }
    return out;
}

// Every phone folder under `work` that holds a dump's .part, by the folder's name.
std::vector<std::wstring> foldersWithParts(const std::wstring& work) {
    std::vector<std::wstring> found;
    for (const std::wstring& name : namesIn(work, L"sim-*", true)) {
        if (!namesIn(work + L"\\" + name, L"*.part", false).empty()) found.push_back(name);
    }
    return found;
}

// Waits until each of `phones` rows is in a read whose bytes were seen to move: each row's bytes
// cell has shown two different counts, and all of them show one now. Only that column is read,
// so the polls keep up with the window's redraws.
bool awaitReading(const StationWindow& station, std::size_t phones) {
    std::vector<std::wstring> first(phones);
    std::vector<bool> moved(phones, false);
    return station.awaitRows("every phone's bytes moving in its backup",
                             [&](const Rows& rows) {
                                 if (rows.size() != phones) return false;
                                 bool reading = true;
                                 for (std::size_t r = 0; r < phones; ++r) {
                                     const std::wstring& bytes = rows[r][0];
                                     if (first[r].empty()) {
                                         first[r] = bytes;
                                     } else if (!bytes.empty() && bytes != first[r]) {
                                         moved[r] = true;
                                     }
                                     reading = reading && !bytes.empty() && moved[r];
                                 }
                                 return reading;
                             },
                             60s, {kBytesColumn});
}

TEST(StationWindowProcess, StopMidReadKeepsEveryPartAndTheSettingsComeBackAfterARestart) {
    Scratch scratch;
    const std::wstring work = scratch.workFolder(L"window");
    // Phones behind a slow hub: a backup's reads take ten seconds, time to see every row's
    // bytes move and press Stop in them, even on a loaded machine.
    const auto environment = stationEnvironment(scratch, L"", L"100");

    {
        StationWindow station(work, environment);
        ASSERT_TRUE(station.opened()) << "the station window did not open";
        const bool en = station.english;
        station.click(IDC_ST_BACKUP);
        station.click(IDC_ST_START_PHONE);
        ASSERT_TRUE(testing::pollUntil([&] { return station.steps().size() == 2; }, 10s));
        station.click(IDC_ST_START);
        ASSERT_TRUE(awaitReading(station, 3));

        station.click(IDC_ST_STOP);
        const std::wstring stopped = word(en, L"stopped", L"остановлено");
        station.awaitRows(
            "every row stopped",
            [&](const Rows& rows) {
                return rows.size() == 3 &&
                       std::all_of(rows.begin(), rows.end(),
                                   [&](const auto& row) { return row[kResultColumn] == stopped; });
            },
            30s);
        ASSERT_TRUE(station.awaitIdle());
        EXPECT_TRUE(
            station.text(IDC_ST_STATUS)
                .ends_with(word(en, L"   failed 0   stopped 3", L"   ошибка 0   остановлено 3")))
            << narrow(station.text(IDC_ST_STATUS));
        // Each phone's dump was cut short, not thrown away.
        EXPECT_EQ(foldersWithParts(work).size(), 3u) << folderListing(work);
        EXPECT_TRUE(station.answers()) << "the window stopped answering after Stop";

        // Only the first and the third place from now on, and a journal of its own.
        station.click(IDC_ST_TICKED_PLACES);
        const RemoteList places = station.list(IDC_ST_PLACES);
        ASSERT_TRUE(testing::pollUntil([&] { return places.listViewCount() == 3; }, 10s));
        places.setListViewChecked(0, true);
        places.setListViewChecked(2, true);
        station.type(IDC_ST_JOURNAL, L"line.jsonl");
        ASSERT_TRUE(testing::pollUntil(
            [&] {
                return station.text(IDC_ST_COMMAND_LINE).find(L"line.jsonl") != std::wstring::npos;
            },
            10s));
        const std::wstring command = station.text(IDC_ST_COMMAND_LINE);

        station.closeBox();
        ASSERT_TRUE(station.process().waitForExit(10000))
            << "closing the idle window did not end it";
        EXPECT_EQ(station.process().exitCode(), 0u);

        // The same operator opens it again: everything it was set to is shown as it was.
        StationWindow again(work, environment);
        ASSERT_TRUE(again.opened()) << "the station window did not open again";
        EXPECT_EQ(again.steps(), (std::vector<std::wstring>{word(en, L"backup", L"резервная копия"),
                                                            word(en, L"start", L"запустить")}));
        EXPECT_EQ(again.text(IDC_ST_FOLDER), work);
        EXPECT_EQ(again.text(IDC_ST_JOURNAL), L"line.jsonl");
        EXPECT_FALSE(again.checked(IDC_ST_ALL_PLACES));
        EXPECT_TRUE(again.checked(IDC_ST_TICKED_PLACES));
        const RemoteList placesAgain = again.list(IDC_ST_PLACES);
        ASSERT_EQ(placesAgain.listViewCount(), 3);
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(placesAgain.listViewChecked(row), row != 1) << "place " << row;
        }
        EXPECT_EQ(again.text(IDC_ST_COMMAND_LINE), command);

        // Closed while its two phones read: it asks, and once told yes, ends with them stopped.
        const std::size_t partsBefore = foldersWithParts(work).size();
        again.click(IDC_ST_START);
        ASSERT_TRUE(awaitReading(again, 2));
        again.closeBox();
        HWND question = again.awaitDialog("the question whether to stop");
        ASSERT_NE(question, nullptr);
        ASSERT_NE(GetDlgItem(question, IDYES), nullptr) << "the question has no Yes button";
        testing::click(GetDlgItem(question, IDYES));
        ASSERT_TRUE(again.process().waitForExit(30000))
            << "closing the running window did not end it";
        EXPECT_EQ(again.process().exitCode(), 0u);
        EXPECT_EQ(foldersWithParts(work).size(), partsBefore + 2) << folderListing(work);
    }
}

// Two phones, one hung in the middle of writing its PDS: Stop cuts the hung transfer, and the
// phone whose flash was written in part is a failure that says so. Closing the window instead
// (told yes at its question) ends the sessions as soon, and the program, with the same journal.
TEST(StationWindowProcess, StopWithAPhoneHungMidWriteEndsAtOnceAndFailsThatPhone) {
    for (const bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "closed" : "stopped");
        Scratch scratch;
        const std::wstring work = scratch.workFolder(L"window");
        putMadeUpBytes(work + L"\\new.bin", 0x10000, 11);
        // The chain as the last run left it in the operator's settings; --start presses Start.
        CreateDirectoryW((scratch.appData() + L"\\Norvale").c_str(), nullptr);
        std::ofstream(std::filesystem::path(scratch.appData() + L"\\Norvale\\station.ini"))
            << "step=backup\nstep=write-pds new.bin\njournal=hung.jsonl\n";
        // Phone 2's 149th transfer is the reply to the third chunk of its first PDS block.
        StationWindow station(work,
                              stationEnvironment(scratch, L"2:hang@149", L"", 2,
                                                 scratch.root + L"\\trace.txt", L"usb"),
                              L"--start --lang en");
        ASSERT_TRUE(station.opened()) << "the station window did not open";
        const std::wstring trace = scratch.root + L"\\trace-2.txt";
        ASSERT_TRUE(testing::pollUntil([&] { return readFile(trace).ends_with(" FAIL\n"); }, 30s));
        station.awaitRows(
            "phone 1 done",
            [](const Rows& rows) { return rows.size() == 2 && rows[0][0] == L"done"; }, 30s,
            {kResultColumn});
        if (byClose) {
            station.closeBox();
            HWND question = station.awaitDialog("the question whether to stop");
            ASSERT_NE(question, nullptr);
            testing::click(GetDlgItem(question, IDYES));
            // Wine on a display without a window manager waits up to 2 s for each window it hides
            // to be withdrawn (its x11 driver's wait_for_withdrawn_state), the question's too: the
            // stop is timed from when the answer was taken.
            ASSERT_TRUE(testing::pollUntil([&] { return !IsWindow(question); }, 10s));
            const ULONGLONG answered = GetTickCount64();
            const auto recorded = [&] {
                const std::string lines = readFile(work + L"\\hung.jsonl");
                return std::count(lines.begin(), lines.end(), '\n') == 2;
            };
            ASSERT_TRUE(testing::pollUntil(recorded, 10s));
            EXPECT_LT(GetTickCount64() - answered, 2000u) << "the sessions took this long to end";
            ASSERT_TRUE(station.process().waitForExit(10000)) << "the program did not end";
        } else {
            const ULONGLONG stopped = GetTickCount64();
            station.click(IDC_ST_STOP);
            ASSERT_TRUE(station.awaitIdle());
            EXPECT_LT(GetTickCount64() - stopped, 2000u) << "the sessions took this long to end";
            EXPECT_EQ(station.rows({0, kResultColumn}),
                      (Rows{{L"sim-1", L"done"},
                            {L"sim-2", L"failed: writing interrupted: the phone's flash is "
                                       L"incomplete and must be written again"}}));
            station.closeBox();
            ASSERT_TRUE(station.process().waitForExit(10000)) << "the program did not end";
        }
        EXPECT_EQ(station.process().exitCode(), 0u);
        std::map<std::string, nlohmann::json> byPlace;
        std::istringstream journal(readFile(work + L"\\hung.jsonl"));
        for (std::string line; std::getline(journal, line);) {
            const nlohmann::json record = nlohmann::json::parse(line);
            byPlace[record["location"].get<std::string>()] = {
                record["commands"][1]["result"], record["exit_code"], record["reason"]};
        }
        EXPECT_EQ(byPlace["sim-1"], nlohmann::json({"done", 0, ""}));
        EXPECT_EQ(byPlace["sim-2"], nlohmann::json({"stopped", 130, "write_interrupted"}));
    }
}

// A recipe made on the command line in a Cyrillic folder, opened, run and saved again as it was
// made; its image replaced: Start refused as `recipe check` refuses, no phone touched.
TEST(StationWindowProcess, ARecipeOpenedRunsItsPhonesAndAChangedImageRefusesStart) {
    Scratch scratch;
    const std::wstring work = scratch.workFolder(L"window");
    const std::wstring shared = scratch.root + L"\\линия";
    CreateDirectoryW(shared.c_str(), nullptr);
    putMadeUpBytes(shared + L"\\new.bin", 0x10000, 11);
    const std::wstring recipe = shared + L"\\рецепт.toml";
    const std::wstring output = scratch.root + L"\\cli-output.txt";
    const auto cli = [&](const std::wstring& arguments) {
        ChildProcess run(testing::builtProgram(L"norvale-cli.exe"), L"--lang en " + arguments,
                         shared, {}, output);
        return run.started() && run.waitForExit(30000) ? run.exitCode() : 99u;
    };
    ASSERT_EQ(cli(L"recipe make -o рецепт.toml --journal recipe.jsonl write pds new.bin"), 0u);
    const std::wstring trace = scratch.root + L"\\trace";
    const auto traced = [&] { return readFile(trace + L"-1") + readFile(trace + L"-2"); };
    StationWindow station(work, stationEnvironment(scratch, L"", L"", 2, trace), L"--lang en");
    ASSERT_TRUE(station.opened()) << "the station window did not open";
    ASSERT_TRUE(station.chooseFile(IDC_ST_OPEN_RECIPE, recipe));
    ASSERT_TRUE(testing::pollUntil([&] { return station.steps().size() == 1; }, 10s));
    EXPECT_EQ(station.steps(), std::vector<std::wstring>{L"write PDS " + shared + L"\\new.bin"});
    EXPECT_TRUE(testing::windowText(station.window).ends_with(L" - рецепт.toml"));
    EXPECT_EQ(station.text(IDC_ST_COMMAND_LINE), L"norvale-cli --station --sim --dir " + work +
                                                     L" --journal recipe.jsonl --recipe " + recipe);
    station.click(IDC_ST_START);
    station.awaitRows("both phones written",
                      [&](const Rows& rows) {
                          return rows == Rows{{L"done"}, {L"done"}};
                      },
                      60s, {kResultColumn});
    station.click(IDC_ST_STOP);
    ASSERT_TRUE(station.awaitIdle());
    EXPECT_NE(readFile(work + L"\\recipe.jsonl")
                  .find(",\"recipe\":" + nlohmann::json(narrow(recipe)).dump()),
              std::string::npos);

    ASSERT_TRUE(station.chooseFile(IDC_ST_SAVE_RECIPE, shared + L"\\новый.toml"));
    ASSERT_TRUE(testing::pollUntil(
        [&] { return testing::windowText(station.window).ends_with(L" - новый.toml"); }, 10s));
    EXPECT_EQ(readFile(shared + L"\\новый.toml"), readFile(recipe));
    putMadeUpBytes(shared + L"\\new.bin", 0x10000, 12);
    ASSERT_EQ(cli(L"recipe check " + recipe), 4u);
    const std::string refusal = readFile(output);
    const std::string before = traced();
    station.click(IDC_ST_START);
    HWND told = station.awaitDialog("the refusal");
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(narrow(testing::windowText(GetDlgItem(told, 0xFFFF))) + "\n", refusal);
    PostMessageW(told, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(station.awaitIdle());
    EXPECT_EQ(traced(), before) << "a phone was touched";
}

// Whether every button's, box's and column's text fits its control, measured as the window
// draws it: with the template's font at the screen's DPI, a mnemonic's '&' left out.
std::string cutLabels(const StationWindow& station) {
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, 0,
                             0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
    const HGDIOBJ before = SelectObject(dc, font);
    const auto width = [&](const std::wstring& text) {
        RECT rect{};
        DrawTextW(dc, text.c_str(), -1, &rect, DT_CALCRECT | DT_SINGLELINE);
        return static_cast<int>(rect.right);
    };
    std::string cut;
    for (int id = IDC_ST_BACKUP; id <= IDC_ST_SAVE_RECIPE; ++id) {
        HWND item = station.item(id);
        const std::wstring kind = testing::windowClass(item);
        const LONG style = GetWindowLongW(item, GWL_STYLE) & BS_TYPEMASK;
        if (kind != L"Button" || style == BS_GROUPBOX) continue;
        RECT box{};
        GetClientRect(item, &box);
        const bool check = style == BS_AUTOCHECKBOX || style == BS_AUTORADIOBUTTON;
        // A push button's frame takes a few pixels a side; a box's mark and its gap more.
        const int room = box.right - (check ? GetSystemMetrics(SM_CXMENUCHECK) + 4 : 6);
        if (width(station.text(id)) > room) cut += " " + narrow(station.text(id));
    }
    HWND list = station.item(IDC_ST_PHONES);
    HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    for (int c = 0; c < Header_GetItemCount(header); ++c) {
        if (c == 4) continue;  // the bar's column
        const std::wstring title = station.list(IDC_ST_PHONES).listViewColumnTitle(c);
        if (width(title) + 12 > ListView_GetColumnWidth(list, c)) cut += " " + narrow(title);
    }
    SelectObject(dc, before);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return cut;
}

TEST(StationWindowProcess, InRussianNamesInAnyScriptAndAPhoneLogFollowedWhileStopped) {
    Scratch scratch;
    // A Cyrillic working folder and image (in the window's code page) and a journal in Chinese
    // characters (outside it).
    const std::wstring work = scratch.workFolder(L"станция");
    const std::wstring image = scratch.root + L"\\образ.bin";
    std::ofstream(std::filesystem::path(image), std::ios::binary) << std::string(0x20000, '\x5A');
    const auto environment = stationEnvironment(scratch, L"", L"100");

    StationWindow station(work, environment, L"--lang ru");
    ASSERT_TRUE(station.opened()) << "the station window did not open";
    EXPECT_FALSE(station.english) << "the window did not open in Russian";
    EXPECT_EQ(cutLabels(station), "") << "these labels are cut";
    EXPECT_EQ(station.text(IDC_ST_FOLDER), work);

    station.type(IDC_ST_FROM, L"10100000");
    station.type(IDC_ST_TO, L"1011FFFF");
    ASSERT_TRUE(station.chooseFile(IDC_ST_WRITE_BLOCKS, image));
    ASSERT_TRUE(testing::pollUntil([&] { return station.steps().size() == 1; }, 10s));
    station.click(IDC_ST_BACKUP);
    station.type(IDC_ST_JOURNAL, L"日誌.jsonl");
    ASSERT_TRUE(testing::pollUntil([&] { return station.steps().size() == 2; }, 10s));
    EXPECT_EQ(station.text(IDC_ST_COMMAND_LINE),
              L"norvale-cli --station --sim --dir " + work +
                  L" --journal 日誌.jsonl write 10100000-1011FFFF " + image + L" backup");

    // The first phone's log opened by a double click while it reads: it follows the phone, and
    // Stop in the main window works while it is open.
    station.click(IDC_ST_START);
    ASSERT_TRUE(awaitReading(station, 3));
    HWND list = station.item(IDC_ST_PHONES);
    RECT header{};
    GetWindowRect(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), &header);
    PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON,
                 MAKELPARAM(10, header.bottom - header.top + 5));
    HWND log = station.awaitDialog("the phone's log");
    ASSERT_NE(log, nullptr);
    const auto logText = [&] { return testing::windowText(GetDlgItem(log, IDC_ST_LOG)); };
    const std::wstring first = logText();
    EXPECT_NE(first, L"");
    station.click(IDC_ST_STOP);
    ASSERT_TRUE(station.awaitIdle());
    EXPECT_TRUE(testing::pollUntil([&] { return logText().size() > first.size(); }, 10s))
        << "the log did not follow the phone: " << narrow(logText());
    EXPECT_TRUE(logText().starts_with(first)) << narrow(logText());
    EXPECT_TRUE(IsWindow(log));

    station.closeBox();
    ASSERT_TRUE(station.process().waitForExit(10000)) << "the program did not end";
    EXPECT_EQ(station.process().exitCode(), 0u);
    // The phones' folders in the Cyrillic folder, the journal under its Chinese name, naming the
    // Cyrillic image as it is.
    EXPECT_EQ(phoneFolders(work).size(), 3u) << folderListing(work);
    const std::string journal = readFile(work + L"\\日誌.jsonl");
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 3) << journal;
    EXPECT_NE(journal.find(narrow(image).substr(narrow(image).rfind('\\') + 1)), std::string::npos)
        << journal;
}

}  // namespace
}  // namespace norvale
