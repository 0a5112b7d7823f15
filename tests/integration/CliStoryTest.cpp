// norvale-cli against the simulated phone, run in-process: the operator's sessions end to end,
// each exit code from a real cause, and command lines refused before anything reaches the phone.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "CliRig.h"
#include "JsonReader.h"
#include "protocol/CommandFormats.h"
#include "station/Sha256.h"

namespace norvale {
namespace {

using namespace norvale::testing;
using Lines = std::vector<std::string>;

const std::string kArrival =
    "Phone connected\nBoot version: 0C60\nMode: FLASH \nCG1 start - 100A0000\n";
const std::string kBootstrap = "Sending the loader\nJMP01\nRAM LOADER 1\n";

std::string readRequest(std::uint32_t start, std::uint32_t count) {
    return written(buildReadRequest(start, count));
}

// The `count` trace lines after the first `line` from position `from`, and where `line` was.
Lines linesAfter(const Lines& trace, const std::string& line, std::size_t count,
                 std::size_t* at = nullptr, std::size_t from = 0) {
    const auto found =
        std::find(trace.begin() + static_cast<std::ptrdiff_t>(from), trace.end(), line);
    if (found == trace.end()) return {};
    if (at != nullptr) *at = static_cast<std::size_t>(found - trace.begin());
    const auto end = std::min(trace.end(), found + 1 + static_cast<std::ptrdiff_t>(count));
    return Lines(found + 1, end);
}

// The phone's replies to a read of `count` bytes from `start`, 4096 bytes each.
Lines replies(CliRig& rig, std::uint32_t start, std::uint32_t count) {
    Lines lines;
    for (std::uint32_t done = 0; done < count; done += 4096) {
        lines.push_back("R 2 4096 " + hexOf(rig.flash(start + done, 4096)));
    }
    return lines;
}

std::string u8string(std::u8string_view text) { return std::string(text.begin(), text.end()); }

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

TEST(CliStory, WritePdsIsVerifiedByAReadOfItsOwnAndReadsBackTheSame) {
    CliRig rig;
    const Bytes image = patternImage(0x10000, 0x5A);
    putFile("new-pds.bin", image);
    const Bytes before = rig.flash(0x10010000, 0x10000);

    const auto result = rig.run({"write", "pds", "new-pds.bin", "read", "pds", "-o", "back.bin"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.err, "");
    // One verdict for the write, once the comparison has found the flash holds the image.
    EXPECT_EQ(result.out, kArrival + kBootstrap + "Writing data to the phone\n" + kBootstrap +
                              "Verifying the written data\nSuccess\n" + kBootstrap +
                              "Reading data block back.bin\nSuccess\n");
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), image);
    EXPECT_NE(before, image);
    EXPECT_EQ(fileBytes("back.bin"), image);

    // The verification is the dialog's read on the wire: the request, the replies, 'Z'.
    const Lines trace = rig.driver.trace();
    Lines expected = replies(rig, 0x10010000, 0x10000);
    expected.push_back(writtenHex("5a"));
    std::size_t verifyAt = 0;
    EXPECT_EQ(linesAfter(trace, readRequest(0x10010000, 0x10000), 17, &verifyAt), expected);
    EXPECT_EQ(linesAfter(trace, readRequest(0x10010000, 0x10000), 17, nullptr, verifyAt + 1),
              expected);
    // One session: the jump image goes with the first of the three commands only.
    EXPECT_EQ(rig.traceCount(written(buildBinPacket(rig.jumpImage))), 1u);
}

TEST(CliStory, AStuckBlockIsCaughtByVerifyAtTheFirstDifferingAddress) {
    CliRig rig;
    rig.driver.stickFlashBlock(0x1001ABCD);  // the block 10018000-1001FFFF keeps what it holds
    // The image agrees with the stuck block's old contents up to 10019234, so the first
    // difference is inside the block, not at its start.
    Bytes image = patternImage(0x10000, 0x77);
    const Bytes old = rig.flash(0x10018000, 0x1234);
    std::copy(old.begin(), old.end(), image.begin() + 0x8000);
    ASSERT_NE(image[0x9234], rig.flash(0x10019234, 1)[0]);
    putFile("pds.img", image);

    const auto result = rig.run({"write", "pds", "pds.img", "start"});
    EXPECT_EQ(result.code, 5);
    EXPECT_EQ(result.err, "ERROR - the written data differ from the image at address 10019234\n");
    // No success line before the error: the write's verdict was the verification's to give.
    EXPECT_EQ(result.out, kArrival + kBootstrap + "Writing data to the phone\n" + kBootstrap +
                              "Verifying the written data\n");
    // The comparison stopped at the reply holding the difference, and 'Z' ended the read.
    Lines expected = replies(rig, 0x10010000, 0xA000);
    expected.push_back(writtenHex("5a"));
    EXPECT_EQ(linesAfter(rig.driver.trace(), readRequest(0x10010000, 0x10000), 11), expected);
    EXPECT_EQ(rig.driver.trace().back(), writtenHex("5a"));
}

TEST(CliStory, BackupReadsTheThreeRegionsAndChecksumsThemAndNeverOverwrites) {
    CliRig rig;
    const auto result = rig.run({"-q", "backup", "saved"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(fileBytes("saved/Boot.bin"), rig.flash(0x10000000, 0x10000));
    EXPECT_EQ(fileBytes("saved/PDS.bin"), rig.flash(0x10010000, 0x10000));
    EXPECT_EQ(fileBytes("saved/Panic.bin"), rig.flash(0x10020000, 0x20000));
    const Bytes sums = fileBytes("saved/SHA256SUMS");
    const std::string text(sums.begin(), sums.end());
    // The digests of the never-written flash, as sha256sum gives them for these three dumps.
    EXPECT_EQ(text,
              "7bf1f3a47e5cfcd18cebb3c574c649483c82e26071784543860b8a2e57f37b36  Boot.bin\n"
              "1945bf06fd5c6f899bf6c0f539b4e4548b5cc41475acbeb683cd28bddddc4b58  PDS.bin\n"
              "4ca25a42c49ce62844565af7ac88e7d5f46f5438316659cba91b02aab0bd5761  Panic.bin\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("saved"),
                            std::filesystem::directory_iterator()),
              4)
        << "no .part file is left";

    // The same folder again: refused before anything is sent, its files untouched.
    rig.driver.clearTrace();
    putFile("saved/SHA256SUMS", {'x'});
    const auto again = rig.run({"backup", "saved"});
    EXPECT_EQ(again.code, 4);
    EXPECT_EQ(again.err, "ERROR - the file already exists: " +
                             (std::filesystem::path("saved") / "Boot.bin").string() + "\n");
    EXPECT_TRUE(rig.driver.trace().empty());
    EXPECT_EQ(fileBytes("saved/SHA256SUMS"), Bytes{'x'});

    // Without a folder: a new one named after the date and time.
    const auto dated = rig.run({"-q", "backup"});
    EXPECT_EQ(dated.code, 0) << dated.err;
    std::vector<std::string> folders;
    for (const auto& entry : std::filesystem::directory_iterator(rig.folder)) {
        const std::string name = entry.path().filename().string();
        if (std::regex_match(name, std::regex("backup-[0-9]{8}-[0-9]{6}"))) folders.push_back(name);
    }
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(fileBytes(folders[0] + "/PDS.bin"), rig.flash(0x10010000, 0x10000));
}

TEST(CliStory, ChecksumsThatCantBeTakenOrNamedFailTheRunAndVouchForNothing) {
    CliRig rig;
    const std::string sums = (std::filesystem::path("saved") / "SHA256SUMS").string();
    rig.files.failRenaming(sums, FileError::accessDenied);
    const auto result = rig.run({"-q", "backup", "saved"});
    EXPECT_EQ(result.code, 4);
    EXPECT_EQ(result.err, "ERROR - could not rename the file " + sums + ".part to " + sums + "\n");
    EXPECT_FALSE(std::filesystem::exists(sums));
    EXPECT_EQ(fileBytes(sums + ".part").size(), 3u * (64 + 2) + 8 + 7 + 9 + 3);
    EXPECT_EQ(fileBytes("saved/PDS.bin"), rig.flash(0x10010000, 0x10000));

    // A dump that another program holds once it is kept can't be read back for its sum: the
    // backup stops there, and no checksums file is begun.
    const std::string pds = (std::filesystem::path("held") / "PDS.bin").string();
    rig.files.failOpening(pds, FileError::sharingViolation);
    const auto held = rig.run({"-q", "backup", "held"});
    EXPECT_EQ(held.code, 4);
    EXPECT_EQ(held.err, "ERROR - the file is in use by another program: " + pds + "\n");
    EXPECT_EQ(fileBytes(pds), rig.flash(0x10010000, 0x10000));
    EXPECT_FALSE(std::filesystem::exists("held/Panic.bin"));
    EXPECT_FALSE(std::filesystem::exists("held/SHA256SUMS.part"));
}

TEST(CliStory, AChainRunsInOrderAndStopsWhenThePhoneHasLeft) {
    CliRig rig;
    const Bytes old = rig.flash(0x10010000, 0x10000);
    putFile("new.bin", patternImage(0x10000, 0x42));

    const auto result = rig.run({"read", "pds", "-o", "old.bin", "write", "pds", "new.bin",
                                 "--no-verify", "start", "blank"});
    // 'S' 'A' restarts the phone out of flash mode; the next command finds it gone.
    EXPECT_EQ(result.code, 2);
    EXPECT_EQ(result.out, kArrival + kBootstrap + "Reading data block old.bin\nSuccess\n" +
                              kBootstrap + "Writing data to the phone\nSuccess\n" + kBootstrap +
                              "Starting the phone\nSuccess\nSending the loader\n" +
                              "Phone disconnected\n\n");
    EXPECT_EQ(result.err, "ERROR - no connection with the phone\n");
    EXPECT_EQ(fileBytes("old.bin"), old);
    EXPECT_EQ(rig.flash(0x10010000, 0x10000), patternImage(0x10000, 0x42));
    EXPECT_FALSE(rig.driver.attached(rig.phoneId));
    EXPECT_EQ(rig.traceCount(written(buildBinPacket(rig.jumpImage))), 1u);
}

TEST(CliStory, ThePhoneTellsWhatWentWrongThroughTheExitCode) {
    {
        CliRig rig;  // the phone does not answer a reply of the read
        rig.driver.addFault(SimFaultKind::hang, rig.driver.pipeTransfers() + 4 + 16 + 3);
        const auto result = rig.run({"-q", "read", "pds"});
        EXPECT_EQ(result.code, 3);
        EXPECT_EQ(result.err, "ERROR - no connection with the phone\n");
        // The reply before the hang, under the name that says the dump is not whole.
        EXPECT_EQ(fileBytes("PDS.bin.part"), rig.flash(0x10010000, 4096));
        EXPECT_FALSE(std::filesystem::exists("PDS.bin"));
    }
    {
        CliRig rig;  // the phone stops sending after two replies
        rig.driver.addFault(SimFaultKind::nodata, rig.driver.pipeTransfers() + 4 + 16 + 4);
        const auto result = rig.run({"-q", "read", "pds"});
        EXPECT_EQ(result.code, 3);
        EXPECT_EQ(result.err,
                  "ERROR - reading interrupted, bytes saved: 8192 in the file PDS.bin.part\n");
        EXPECT_EQ(rig.driver.trace().back(), writtenHex("5a"));
    }
    {
        CliRig rig;  // unplugged in the middle of the read
        rig.driver.addFault(SimFaultKind::unplug, rig.driver.pipeTransfers() + 4 + 16 + 5);
        const auto result = rig.run({"read", "pds"});
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.err, "ERROR - no connection with the phone\n");
        EXPECT_NE(result.out.find("Reading data block PDS.bin\nPhone disconnected\n\n"),
                  std::string::npos)
            << result.out;
    }
    {
        CliRig rig;  // no phone at all
        rig.driver.detach(rig.phoneId);
        const auto result = rig.run({"info"});
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.err, "ERROR - Phone not connected\n");
        EXPECT_TRUE(rig.driver.trace().empty());
    }
    {
        CliRig rig;  // a loader image is missing
        std::filesystem::remove("bin/ram.bin");
        const auto result = rig.run({"-q", "blank"});
        EXPECT_EQ(result.code, 4);
        EXPECT_EQ(result.err, "ERROR - could not read the file bin/ram.bin\n");
        EXPECT_FALSE(
            rig.driver.withPhone(rig.phoneId, [](const SimPhone& p) { return p.blank(); }));
    }
}

// The operator presses Ctrl+C as the n-th reply to the read request `request` comes in.
class CtrlCAtReply final : public DriverPort {
public:
    CtrlCAtReply(DriverPort& driver, FakeConsole& console, Bytes request, int nth)
        : driver_(driver), console_(console), request_(std::move(request)), left_(nth) {}
    ControlResult control(DeviceHandle device, std::uint32_t code,
                          std::span<const std::uint8_t> input, std::span<std::uint8_t> output,
                          std::uint32_t waitMs) override {
        const ControlResult result = driver_.control(device, code, input, output, waitMs);
        if (code == kIoctlPipeWrite && std::search(input.begin(), input.end(), request_.begin(),
                                                   request_.end()) != input.end()) {
            counting_ = true;
        } else if (code == kIoctlPipeRead && counting_ && --left_ == 0) {
            console_.pressCtrlC();
        }
        return result;
    }
    void cancel(DeviceHandle device) override { driver_.cancel(device); }

private:
    DriverPort& driver_;
    FakeConsole& console_;
    Bytes request_;
    bool counting_ = false;
    int left_;
};

TEST(CliStory, CtrlCEndsTheReadAtTheNextReplyKeepingWhatArrivedAndStillSendsZ) {
    CliRig rig;
    const auto request = buildReadRequest(0x10010000, 0x10000);
    CtrlCAtReply stopping(rig.driver, rig.console, Bytes(request.begin(), request.end()), 4);
    rig.driverPort = &stopping;
    const auto result = rig.run({"read", "pds", "-o", "part.bin", "start"});
    EXPECT_EQ(result.code, 130);
    EXPECT_EQ(result.err, "ERROR - stopped by the operator, bytes saved: 16384 in the file "
                          "part.bin.part\n");
    EXPECT_EQ(result.out.find("Success"), std::string::npos);
    // The dump keeps what arrived, under the name that says it is not whole.
    EXPECT_FALSE(std::filesystem::exists("part.bin"));
    EXPECT_EQ(fileBytes("part.bin.part"), rig.flash(0x10010000, 16384));
    Lines expected = replies(rig, 0x10010000, 16384);
    expected.push_back(writtenHex("5a"));
    EXPECT_EQ(linesAfter(rig.driver.trace(), readRequest(0x10010000, 0x10000), 6), expected);
    EXPECT_TRUE(rig.driver.attached(rig.phoneId)) << "start ran after the stop";
}

TEST(CliStory, BadCommandLinesGetOneLineAndReachNoPhone) {
    CliRig rig;
    putFile("PDS.bin", {1, 2, 3});
    putFile("short.img", patternImage(0xF000, 1));
    putFile("ok.img", patternImage(0x10000, 1));
    putFile("cut.bin.part", {4});  // what an earlier read saved before it stopped
    struct Case {
        Lines args;
        int code;
        std::string err;
    };
    const std::vector<Case> cases{
        {{"frob"}, 1, "ERROR - unknown command: frob"},
        {{}, 1, "ERROR - missing argument: COMMAND"},
        {{"read", "10020000-1001FFFF"}, 1, "ERROR - invalid address range: 10020000-1001FFFF"},
        {{"read", "1001000G-1001FFFF"}, 1, "ERROR - invalid address range: 1001000G-1001FFFF"},
        {{"read", "100100000-1001FFFF"}, 1, "ERROR - invalid address range: 100100000-1001FFFF"},
        {{"read", "10010000"}, 1, "ERROR - invalid address range: 10010000"},
        {{"write", "pds"}, 1, "ERROR - missing argument: write FILE"},
        {{"write", "10000000-7FFFFFFF", "ok.img"},
         1,
         "ERROR - invalid address range: 10000000-7FFFFFFF"},
        {{"read", "pds", "--quiet"}, 1, "ERROR - unknown option: --quiet"},
        {{"--wait", "soon", "info"}, 1, "ERROR - invalid option value: --wait soon"},
        {{"--lang", "de", "info"}, 1, "ERROR - invalid option value: --lang de"},
        {{"--backup", "b.bin", "write", "pds", "ok.img", "write", "boot", "ok.img"},
         1,
         "ERROR - --backup before the commands needs exactly one write command"},
        {{"write", "pds", "missing.img"}, 4, "ERROR - could not read the file missing.img"},
        {{"write", "panic", "ok.img"},
         4,
         "ERROR - the image file is shorter than the region to be written: ok.img"},
        {{"write", "boot", "short.img"},
         4,
         "ERROR - the image file is shorter than the region to be written: short.img"},
        {{"read", "pds"}, 4, "ERROR - the file already exists: PDS.bin"},
        {{"read", "boot", "-o", "cut.bin"}, 4, "ERROR - the file already exists: cut.bin.part"},
        {{"read", "boot", "-o", "a.bin", "read", "panic", "-o", "a.bin"},
         4,
         "ERROR - the file is named twice: a.bin"},
        {{"write", "pds", "ok.img", "--backup", "ok.img"},
         4,
         "ERROR - the file already exists: ok.img"},
    };
    for (const Case& c : cases) {
        const auto result = rig.run(c.args);
        EXPECT_EQ(result.code, c.code) << c.err;
        EXPECT_EQ(result.err, c.err + "\n");
        EXPECT_EQ(result.out, "") << c.err;
    }
    EXPECT_EQ(rig.roadsOpened, 0);
    EXPECT_TRUE(rig.driver.trace().empty());
    EXPECT_EQ(fileBytes("PDS.bin"), (Bytes{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists("a.bin"));
    EXPECT_EQ(fileBytes("cut.bin.part"), Bytes{4});
    EXPECT_FALSE(std::filesystem::exists("cut.bin"));
}

// A recipe is refused whole, at the line that is wrong, before anything reaches the phone.
TEST(CliStory, ARecipeThatCantBeTakenIsRefusedAtItsLineAndReachesNoPhone) {
    CliRig rig;
    const Bytes image = patternImage(0x10000, 1);
    putFile("ok.img", image);
    const std::string write = "[[step]]\ncommand = 'write'\nregion = 'pds'\nimage = 'ok.img'\n"
                              "size = 65536\nsha256 = '" +
                              sha256Hex(image) + "'\n";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"version = 1\n# the chain\n[[step]]\ncommand = 'start'\ncolour = 'red'\n",
         "ERROR - the recipe r.toml:5: unknown key colour"},
        {"version = 1\nstep = [{command = 'start'}]\nplaces = ['1-1.3', 4]\n",
         "ERROR - the recipe r.toml:3: invalid value of places"},
        {"version = 2\n[[step]]\ncommand = 'start'\n",
         "ERROR - the recipe r.toml:1: version 2 is not supported"},
        {"[[step]]\ncommand = 'start'\n", "ERROR - the recipe r.toml:1: missing key version"},
        {"version = 1\n\n[[step]]\ncommand = 'write'\nregion = 'pds'\nimage = 'ok.img'\n",
         "ERROR - the recipe r.toml:3: missing key size"},
        {"version = 1\n" + write + "verify = 'yes'\n",
         "ERROR - the recipe r.toml:8: invalid value of verify"},
        {"version = 1\n[[step]]\ncommand = 'read'\nrange = '1001FFFF-10010000'\n",
         "ERROR - the recipe r.toml:2: the step is refused\n"
         "ERROR - invalid address range: 1001FFFF-10010000"},
        {"version = 1\n" + write + "[[step]]\ncommand = 'format'\n",
         "ERROR - the recipe r.toml:9: invalid value of command"},
        {"version = 1\n[[step]\n", "ERROR - the recipe r.toml:2 is not TOML: "},
        // Letters beyond ASCII are the text of strings and comments, never of keys.
        {"version = 1\n# схема\n[[step]]\nкоманда = 'start'\n",
         "ERROR - the recipe r.toml:4 is not TOML: "},
    };
    for (const auto& [text, error] : cases) {
        putFile("r.toml", Bytes(text.begin(), text.end()));
        const auto result = rig.run({"--recipe", "r.toml", "info"});
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.err,
                  "ERROR - --recipe takes the place of the commands: they are in the recipe\n");
        const auto refused = rig.run({"--recipe", "r.toml"});
        EXPECT_EQ(refused.code, 4) << text;
        EXPECT_EQ(refused.err.substr(0, error.size()), error) << text;
    }
    // Sound, it gives the plan of the same run as its command line.
    const std::string sound = "version = 1\n" + write;
    putFile("r.toml", Bytes(sound.begin(), sound.end()));
    const auto plan = rig.run({"--recipe", "r.toml", "--dry-run"});
    EXPECT_EQ(plan.code, 0) << plan.err;
    EXPECT_EQ(plan.out, rig.run({"--dry-run", "write", "pds", "ok.img"}).out);
    EXPECT_EQ(rig.roadsOpened, 0);
}

TEST(CliStory, ListShowsThePhonesOfBothRoadsAndDevicePicksOne) {
    CliRig rig;
    SimInterfaceOptions usb;
    usb.road = Road::usb;
    const SimInterfaceId usbPhone = rig.driver.attach(usb);

    const auto listed = rig.run({"list"});
    EXPECT_EQ(listed.code, 0);
    EXPECT_EQ(listed.out, "driver:1\tdriver\t" + rig.driver.devicePathOf(rig.phoneId) +
                              "\t0C60\tFLASH \t\nusb:1-2\tusb\t1-2\t0C60\tFLASH \t\n");

    const auto blank = rig.run({"--device", "usb:1-2", "blank", "list"});
    EXPECT_EQ(blank.code, 0) << blank.err;
    EXPECT_TRUE(rig.driver.phone(usbPhone)->blank());
    EXPECT_FALSE(rig.driver.phone(rig.phoneId)->blank());
    EXPECT_NE(blank.out.find("usb:1-2\tusb\t1-2\t0C60\tBLANK \t\n"), std::string::npos)
        << blank.out;

    const auto missing = rig.run({"--device", "usb:9-9", "info"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err, "ERROR - no phone with the id usb:9-9\n");
}

TEST(CliStory, ListAndInfoGiveOneJsonDocumentWithThePhonesBytesEscaped) {
    CliRig rig;
    SimInterfaceOptions usb;
    usb.road = Road::usb;
    // A mode of a quote, a backslash, a control character, the letter Й in Windows-1251 and DEL.
    SimPhoneOptions odd;
    odd.modeOverride = std::string("A\"\\\x01\xC9\x7F");
    rig.driver.attach(usb, std::make_shared<SimPhone>(odd));

    const auto listed = rig.run({"list", "--json"});
    EXPECT_EQ(listed.code, 0) << listed.err;
    const auto document = JsonReader::parse(listed.out);
    ASSERT_TRUE(document) << listed.out;
    const auto& phones = document->array();
    ASSERT_EQ(phones.size(), 2u);
    const JsonValue::Object driverPhone{{"id", {std::string("driver:1")}},
                                        {"road", {std::string("driver")}},
                                        {"location", {rig.driver.devicePathOf(rig.phoneId)}},
                                        {"serial", {std::string()}},
                                        {"boot_version", {std::string("0C60")}},
                                        {"mode", {std::string("FLASH ")}},
                                        {"reason", {std::string()}}};
    EXPECT_EQ(phones[0].object().size(), driverPhone.size());
    for (const auto& [field, value] : driverPhone) {
        EXPECT_EQ(phones[0].object().at(field).string(), value.string()) << field;
    }
    EXPECT_EQ(phones[1].object().at("id").string(), "usb:1-2");
    EXPECT_EQ(phones[1].object().at("mode").string(), "A\"\\\x01" + u8string(u8"Й") + "\x7F");
    EXPECT_NE(listed.out.find(R"("A\"\\\u0001Й\u007f")"), std::string::npos) << listed.out;

    // info: the phone picked, with the CG1 start; then without KESTRIN.ini, null. Nothing but the
    // document goes to the output, though the phone arrived as in any run.
    const auto info = rig.run({"info", "--json"});
    EXPECT_EQ(info.code, 0) << info.err;
    const auto described = JsonReader::parse(info.out);
    ASSERT_TRUE(described) << info.out;
    ASSERT_EQ(described->array().size(), 1u);
    const auto& phone = described->array()[0].object();
    EXPECT_EQ(phone.at("id").string(), "driver:1");
    EXPECT_EQ(phone.at("cg1_start").string(), "100A0000");
    EXPECT_EQ(phone.size(), 8u);
    std::filesystem::remove("KESTRIN.ini");
    const auto bare = rig.run({"--device", "usb:1-2", "info", "--json"});
    const auto withoutIni = JsonReader::parse(bare.out);
    ASSERT_TRUE(withoutIni) << bare.out;
    EXPECT_TRUE(withoutIni->array()[0].object().at("cg1_start").isNull());

    const auto twice = rig.run({"list", "--json", "info", "--json"});
    EXPECT_EQ(twice.code, 1);
    EXPECT_EQ(twice.err, "ERROR - --json is allowed in one command of a run only\n");
}

// A USB phone tells its serial number; one the system won't let this user open is listed with
// why, and a command on it stops before anything is announced or sent, with its own message.
TEST(CliStory, ListShowsSerialsAndAPhoneThisUserMayNotOpenWithWhy) {
    CliRig rig;
    rig.driver.detach(rig.phoneId);
    SimInterfaceOptions numbered;
    numbered.road = Road::usb;
    numbered.devicePath = "1-1.3";
    numbered.serialNumber = "SN0042";
    rig.driver.attach(numbered);
    SimInterfaceOptions locked;
    locked.road = Road::usb;
    locked.devicePath = "1-1.4";
    locked.denyOpen = true;
    rig.driver.attach(locked);

    const auto listed = rig.run({"list"});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_EQ(listed.out, "usb:1-1.3\tusb\t1-1.3\t0C60\tFLASH \tSN0042\n"
                          "usb:1-1.4\tusb\t1-1.4\t\t\t\n");
    const std::string denied =
        "ERROR - no permission to open the phone 1-1.4: the udev rule is needed, and a user not "
        "at the seat needs the plugdev group, see \"Permissions\" in norvale-cli --help\n";
    EXPECT_EQ(listed.err, denied);

    const auto json = rig.run({"list", "--json"});
    const auto document = JsonReader::parse(json.out);
    ASSERT_TRUE(document) << json.out;
    ASSERT_EQ(document->array().size(), 2u);
    EXPECT_EQ(document->array()[0].object().at("serial").string(), "SN0042");
    EXPECT_EQ(document->array()[0].object().at("reason").string(), "");
    EXPECT_EQ(document->array()[1].object().at("serial").string(), "");
    EXPECT_EQ(document->array()[1].object().at("reason").string(), "no_usb_permission");

    rig.driver.clearTrace();
    const auto refused = rig.run({"--device", "usb:1-1.4", "read", "pds"});
    EXPECT_EQ(refused.code, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, denied);
    EXPECT_TRUE(rig.driver.trace().empty());
    EXPECT_FALSE(std::filesystem::exists("PDS.bin.part"));
}

// On the maker's driver too, a phone is named by the socket its device names: list shows it,
// and a station takes it by that socket (or by its interface's path), its folder named after it.
TEST(CliStory, ADriverPhoneIsNamedByItsSocket) {
    CliRig rig;
    rig.driver.detach(rig.phoneId);
    SimInterfaceOptions socket;
    socket.location = "hub1-port3";
    const SimInterfaceId phone = rig.driver.attach(socket);
    const std::string path = rig.driver.devicePathOf(phone);

    const auto listed = rig.run({"list"});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_EQ(listed.out, "driver:1\tdriver\thub1-port3\t0C60\tFLASH \t\n");
    const auto info = rig.run({"--device", "driver:1", "info"});
    EXPECT_EQ(info.code, 0) << info.err;

    // The station's loop sleeps on the virtual clock: a little real time lets its session run.
    rig.clock.setSleepHook([](std::uint32_t ms) {
        if (ms >= 100) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    // Started, the phone leaves, and the station's watch of it ends with it.
    const auto station = rig.run({"--station", "--count", "1", "--port", "hub1-port3", "start"});
    EXPECT_EQ(station.code, 0) << station.err;
    EXPECT_FALSE(rig.driver.attached(phone));
    bool folder = false;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        folder |= entry.path().filename().string().rfind("hub1-port3-", 0) == 0;
    }
    EXPECT_TRUE(folder);
    EXPECT_NE(path.find("vid_22b8"), std::string::npos);
}

TEST(CliStory, WaitGivesAPhoneTimeToArrive) {
    CliRig rig;
    rig.driver.detach(rig.phoneId);
    rig.clock.setSleepHook([&rig](std::uint32_t) {
        if (rig.clock.now() == 2000) rig.driver.attach();
    });
    const auto arrived = rig.run({"--wait", "5", "info"});
    EXPECT_EQ(arrived.code, 0) << arrived.err;
    EXPECT_EQ(arrived.out, kArrival);
    EXPECT_EQ(rig.clock.now(), 2000u);

    rig.driver.detachAll();
    const auto none = rig.run({"--wait", "3", "info"});
    EXPECT_EQ(none.code, 2);
    EXPECT_EQ(none.err, "ERROR - Phone not connected\n");
    EXPECT_EQ(rig.clock.now(), 5000u);
}

TEST(CliStory, MessagesAreInTheUsersLanguageAndProgressOnlyOnATerminal) {
    CliRig rig;
    rig.console.userLanguage = "ru";
    const auto russian = rig.run({"read", "pds", "-o", "r.bin"});
    EXPECT_EQ(russian.code, 0);
    EXPECT_EQ(russian.out.substr(0, russian.out.find('\n') + 1), u8string(u8"Телефон подключен\n"));
    EXPECT_NE(russian.out.find(u8string(u8"Чтение блока данных r.bin\nУспешно\n")),
              std::string::npos);
    EXPECT_EQ(russian.out.find('\r'), std::string::npos);
    const auto again = rig.run({"read", "pds", "-o", "r.bin"});
    EXPECT_EQ(again.err, u8string(u8"ОШИБКА - файл уже существует: r.bin\n"));

    // English, every line of a run that says a lot, and progress drawn on the terminal.
    rig.console.terminal = true;
    putFile("img.bin", patternImage(0x10000, 3));
    const auto english = rig.run({"--lang", "en", "write", "pds", "img.bin", "backup", "b"});
    EXPECT_EQ(english.code, 0) << english.err;
    EXPECT_TRUE(isAscii(english.out)) << english.out;
    EXPECT_NE(english.out.find("Checksums written to b"), std::string::npos);
    const std::string drawn = "\r[" + std::string(40, '#') + "]  64.0 KiB of 64.0 KiB";
    EXPECT_NE(english.out.find(drawn), std::string::npos) << english.out;
    // Each bar is wiped before the next line is printed.
    EXPECT_NE(english.out.find("\r" + std::string(drawn.size() - 1, ' ')), std::string::npos);
    EXPECT_NE(english.out.find(" \rSuccess\n"), std::string::npos);
}

TEST(CliStory, TheWorkingFolderHoldsLoadersAndDumpsWhileNamedFilesStayWhereTheyWereTyped) {
    CliRig rig;
    std::filesystem::create_directory("elsewhere");
    std::filesystem::current_path("elsewhere");
    const auto result = rig.run(
        {"-q", "--dir", rig.folder.string(), "read", "pds", "-o", "mine.bin", "read", "boot"});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(fileBytes(rig.folder / "elsewhere" / "mine.bin"), rig.flash(0x10010000, 0x10000));
    EXPECT_EQ(fileBytes(rig.folder / "Boot.bin"), rig.flash(0x10000000, 0x10000));

    const auto missing = rig.run({"--dir", "no-such-folder", "info"});
    EXPECT_EQ(missing.code, 4);
    EXPECT_EQ(missing.err, "ERROR - could not open the folder no-such-folder\n");
}

TEST(CliStory, HelpAndVersionNeedNoPhone) {
    CliRig rig;
    const auto version = rig.run({"--version"});
    EXPECT_EQ(version.out, "norvale-cli 0.5\n");
    const auto help = rig.run({"help", "write"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("--backup FILE"), std::string::npos);
    EXPECT_NE(help.out.find("  5    verification found a difference\n"), std::string::npos);
    EXPECT_EQ(rig.run({"write", "--help"}).out, help.out);
    const auto whole = rig.run({"--help"});
    for (const char* command : {"list", "info", "read RANGE", "write REGION", "start", "blank",
                                "backup [DIR]", "--wait SECONDS", "130  interrupted"}) {
        EXPECT_NE(whole.out.find(command), std::string::npos) << command;
    }
    EXPECT_EQ(rig.roadsOpened, 0);
}

}  // namespace
}  // namespace norvale
