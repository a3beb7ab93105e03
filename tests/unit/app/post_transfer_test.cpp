// After the transfer: the wait behind the upload dialog with a substituted clock that wraps, and
// its tick arithmetic, the verification's reports that need no device, and the version check
// against a scripted page.
#include "app/post_transfer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "console/console_input.h"
#include "console/console_output.h"
#include "console/dialog_model.h"
#include "console_capture.h"
#include "app/status_answer.h"
#include "core/firmware_images.h"
#include "core/run_phases.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "res/dialog_ids.h"
#include "http_test_server.h"
#include "test_support.h"
#include "ui/dialog_procs.h"
#include "ui/scripted_answers.h"

namespace {

constexpr std::uint32_t LOOPBACK_ADDRESS = 0x7F000001u;

// The substituted clock: a script of tick counts after the start tick, and what the upload dialog
// showed each time the wait read the clock.
struct ClockScript {
    std::uint32_t start_tick;
    std::vector<std::uint32_t> elapsed;
    std::size_t reads;
    std::vector<std::string> titles;
    std::vector<int> positions;
    std::vector<int> maxima;
};
ClockScript script;

std::uint32_t scripted_clock() {
    std::size_t step = std::min(script.reads, script.elapsed.size() - 1);
    ++script.reads;
    ModelDialog* dialog = model_dialog_find(upgrade_state.upload_dialog);
    if (dialog != nullptr) {
        ModelControl* bar = model_control(dialog, CONTROL_PROGRESS);
        script.titles.push_back(dialog->title);
        script.positions.push_back(bar->progress_position);
        script.maxima.push_back(bar->progress_maximum);
    }
    std::uint32_t tick = (script.start_tick + script.elapsed[step]) % TICK_WRAP;
    return (tick << TICK_SHIFT) + 7;  // somewhere inside the tick
}

// The run's events the checks after the transfer send: the verify attempts as numbered, and the
// result, printed on standard error for a death test that ends the run.
class RecordedEvents final : public RunEvents {
public:
    void verify(int attempt) override { attempts.push_back(attempt); }
    void result(RunResult result, const char* text, const char* before,
                const char* after) override {
        std::fprintf(stderr, "result: %s; text: %s; before: %s; after: %s\n",
                     run_result_word(result), text, before, after);
    }
    std::vector<int> attempts;
};

class PostTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        run_events_use(&events);
        upgrade_state.stage = STAGE_TARGET;
        std::strcpy(upgrade_state.device_ip_text, "127.0.0.2");
        upgrade_state.is_phone_model = 0;
        upgrade_state.device_ip = LOOPBACK_ADDRESS;  // the typed address, which the re-queries ask
        console = std::make_unique<ConsoleCapture>("");
    }
    void TearDown() override {
        run_events_use(nullptr);
        clock_substitute(nullptr);
        upgrade_state.stage = STAGE_TARGET;
        console.reset();
    }

    WindowHandle open_upload_dialog() {
        WindowHandle dialog = dialog_open_modeless(nullptr, DIALOG_UPLOAD, transfer_dialog_proc);
        dialog_show(dialog);
        upgrade_state.upload_dialog = dialog;
        return dialog;
    }

    std::unique_ptr<ConsoleCapture> console;
    RecordedEvents events;
};

TEST_F(PostTransfer, TheWaitLastsExactly937TicksAcrossTheWrapOfTheClock) {
    // The start tick lies 11 ticks before the 27-bit tick counter wraps (2^32 ms).
    script = ClockScript{TICK_WRAP - 11, {0, 0, 5, 11, 500, 936, 937, 938, 5000}, 0, {}, {}, {}};
    clock_substitute(scripted_clock);
    WindowHandle dialog = open_upload_dialog();
    wait_for_flash();

    // The start, then one read per tick looked at, the last at 937 ticks: no read after it.
    EXPECT_EQ(script.reads, 7u);
    ASSERT_EQ(script.positions.size(), 7u);
    EXPECT_EQ(script.positions[1], 0);
    EXPECT_EQ(script.positions[2], 0);
    EXPECT_EQ(script.positions[3], 5);
    EXPECT_EQ(script.positions[4], 11);
    EXPECT_EQ(script.positions[5], 500);
    EXPECT_EQ(script.positions[6], 936);
    EXPECT_EQ(script.maxima[1], 937);
    EXPECT_EQ(script.titles[1], "Updating Target Firmware to TEV@127.0.0.2");
    EXPECT_EQ(model_dialog_find(dialog), nullptr);
    EXPECT_EQ(upgrade_state.upload_dialog, nullptr);
    EXPECT_NE(console->printed().find("Updating Target Firmware to TEV@127.0.0.2: 100%"),
              std::string::npos);
}

TEST_F(PostTransfer, TheWaitAfterATransitionTransferSaysSo) {
    upgrade_state.stage = STAGE_TRANSITION;
    script = ClockScript{1000, {0, 0, 937}, 0, {}, {}, {}};
    clock_substitute(scripted_clock);
    open_upload_dialog();
    wait_for_flash();

    EXPECT_EQ(script.reads, 3u);
    ASSERT_EQ(script.titles.size(), 3u);
    EXPECT_EQ(script.titles[1], "Updating Transition Firmware to TEV@127.0.0.2");
}

TEST_F(PostTransfer, AFailedTransferIsReportedWithoutAskingTheDevice) {
    TftpSession session{};
    session.local_ip = LOOPBACK_ADDRESS;
    session.peer_ip = LOOPBACK_ADDRESS;
    verify_upgrade(&session, true);

    std::string printed = console->printed();
    EXPECT_NE(printed.find("Upgrade Failed: Firmware Upload Incomplete"), std::string::npos);
    EXPECT_EQ(printed.find("Connecting with TEV@"), std::string::npos);
}

// True when nothing listens on 127.0.0.1:80, where the re-queries go.
bool port_80_refuses() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool refused =
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    close(fd);
    return refused;
}

TEST_F(PostTransfer, ADeviceThatNeverAnswersAgainGetsTenQueriesAndTheUserIsTold) {
    if (!port_80_refuses()) GTEST_SKIP() << "something listens on 127.0.0.1:80";
    TftpSession session{};
    session.local_ip = LOOPBACK_ADDRESS;
    session.peer_ip = LOOPBACK_ADDRESS;
    // After either image: without a page nobody can tell what the device runs now.
    for (std::uint32_t stage : {STAGE_TARGET, STAGE_TRANSITION}) {
        upgrade_state.stage = stage;
        console.reset();  // one capture at a time
        console = std::make_unique<ConsoleCapture>("");
        events.attempts.clear();
        EXPECT_FALSE(verify_upgrade(&session, false)) << stage;
        std::string printed = console->printed();
        EXPECT_EQ(occurrences(printed, "== Connecting with TEV@127.0.0.2 =="), 10) << stage;
        EXPECT_EQ(occurrences(printed, "Upgrade Failed: No Response From TEV"), 1) << stage;
        EXPECT_EQ(events.attempts, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10})) << stage;
    }
}

std::atomic<std::uint32_t> fast_clock_ms{0};
std::uint32_t fast_clock() { return fast_clock_ms += 100; }  // 100 ms on at every read

// Nobody to press Cancel: each query the device takes and never answers ends at the limit.
TEST_F(PostTransfer, InARunNobodyWatchesEachSilentQueryEndsAtTheLimitAndTheUserIsTold) {
    ScriptedAnswerSet unattended;
    unattended.yes = true;
    scripted_answers_use(unattended);
    HttpTestServer silent({""}, AfterAnswer::HOLD);  // later connections wait unaccepted
    clock_substitute(fast_clock);
    TftpSession session{};
    session.local_ip = LOOPBACK_ADDRESS;
    run_phases_clear();
    run_phase_begin(RunPhase::FLASH);
    EXPECT_FALSE(verify_upgrade(&session, false, silent.port()));
    EXPECT_LT(run_phase_seconds(RunPhase::FLASH), 0);  // no answer: the flash has no end to time
    EXPECT_GE(fast_clock_ms, 10 * STATUS_ANSWER_LIMIT_MS);
    dialogs_use_answers(nullptr);
    EXPECT_EQ(occurrences(console->printed(), "== Connecting with TEV@127.0.0.2 =="), 10);
    EXPECT_EQ(occurrences(console->printed(), "Upgrade Failed: No Response From TEV"), 1);
}

// A transfer that failed has no time of its own, nor a flash after it.
TEST_F(PostTransfer, AFailedTransferHasNoTransferOrFlashTime) {
    run_phases_clear();
    run_phase_begin(RunPhase::TRANSFER);
    script = ClockScript{1000, {0, 937}, 0, {}, {}, {}};
    clock_substitute(scripted_clock);
    open_upload_dialog();
    TftpSession session{};
    finish_after_transfer(&session, true);
    EXPECT_LT(run_phase_seconds(RunPhase::TRANSFER), 0);
    EXPECT_LT(run_phase_seconds(RunPhase::FLASH), 0);
}

// The end of the transition stage: a failed one ends the run with its box before any target
// stage; a failed target stage returns to the listener, which ends the run itself.
void finish_failed_transfer(std::uint32_t stage) {
    console_output_use(stderr);
    console_input_use(open("/dev/null", O_RDONLY));  // no input: the box is dismissed at once
    upgrade_state.stage = stage;
    script = ClockScript{1000, {0, 937}, 0, {}, {}, {}};
    clock_substitute(scripted_clock);
    upgrade_state.upload_dialog = dialog_open_modeless(nullptr, DIALOG_UPLOAD, transfer_dialog_proc);
    TftpSession session{};
    finish_after_transfer(&session, true);
    std::fputs("returned\n", stderr);
    std::exit(7);
}

TEST_F(PostTransfer, AFailedTransitionStageEndsTheRunBeforeTheTarget) {
    EXPECT_EXIT(finish_failed_transfer(STAGE_TRANSITION), ::testing::ExitedWithCode(1),
                "Upgrade Failed: Firmware Upload Incomplete");
    EXPECT_EXIT(finish_failed_transfer(STAGE_TARGET), ::testing::ExitedWithCode(7), "returned");
}

// The version check after the flash, against a status page served on a port of loopback: only
// the whole version of the image, reported after the flash, is a success. Each address differs,
// and the page is served only at the typed one: a query sent to the computer's own address, or
// to where the read request came from, finds nobody.
constexpr std::uint32_t TYPED_ADDRESS = 0x7F000002u;
constexpr std::uint32_t CHOSEN_LOCAL_ADDRESS = 0x7F000003u;
constexpr std::uint32_t REQUEST_SOURCE = 0x7F000004u;

class VersionCheck : public PostTransfer {
protected:
    void SetUp() override {
        PostTransfer::SetUp();
        upgrade_state.device_ip = TYPED_ADDRESS;
        upgrade_state.local_ip = CHOSEN_LOCAL_ADDRESS;
        upgrade_state.target_image = FirmwareImage{};
        std::strcpy(reinterpret_cast<char*>(upgrade_state.target_image.header) +
                        IMAGE_VERSION_OFFSET, "3.2.9(b)");
        upgrade_state.device_info = DeviceInfo{};
    }
    void TearDown() override {
        upgrade_state.target_image = FirmwareImage{};
        upgrade_state.device_info = DeviceInfo{};
        upgrade_state.local_ip = 0;
        PostTransfer::TearDown();
    }

    // Verifies against a device whose status page after the flash has body; whether the device
    // now runs the image's version. The one query must come as the first status query came: from
    // the chosen local address, on the status queries' local port or one of the next free ones.
    bool verified_by(const std::string& body) {
        console.reset();  // one capture at a time
        console = std::make_unique<ConsoleCapture>("");
        HttpTestServer device({"HTTP/1.1 200 OK\r\n\r\n" + body}, AfterAnswer::CLOSE,
                              TYPED_ADDRESS);
        TftpSession session{};
        session.local_ip = CHOSEN_LOCAL_ADDRESS;
        session.peer_ip = REQUEST_SOURCE;
        bool verified = verify_upgrade(&session, false, device.port());
        const std::vector<ReceivedRequest>& requests = device.stop();
        EXPECT_EQ(requests.size(), 1u);
        for (const ReceivedRequest& request : requests) {
            EXPECT_EQ(request.client_address, CHOSEN_LOCAL_ADDRESS);
            EXPECT_GE(request.client_port, HTTP_LOCAL_PORT);
            EXPECT_LE(request.client_port, HTTP_LOCAL_PORT + 100);
        }
        return verified;
    }
    // The same; what was printed.
    std::string verify_against(const std::string& body) {
        verified_by(body);
        return console->printed();
    }
};

constexpr const char* NOT_MATCHING = "Upgrade Failed: Version not matching";
constexpr const char* SUCCESS = "Upgrade Successful! ==";
const std::string VERSION_LABEL = "<tr><td>Software Version:</td><td>";

TEST_F(VersionCheck, OnlyTheWholeVersionOfTheImageIsASuccess) {
    std::string printed = verify_against(VERSION_LABEL + "3.2.9(b)</td></tr>\n");
    EXPECT_EQ(occurrences(printed, SUCCESS), 1);
    EXPECT_EQ(occurrences(printed, "Upgrade Failed"), 0);
    EXPECT_EQ(events.attempts, std::vector<int>{1});

    // A part of it, nothing (the page ends after the label), or more than it: the device runs
    // something else.
    for (std::string reported : {"3.2", "3.2.9(", "", "3.2.9(b)1", "3.2.9(c)"}) {
        printed = verify_against(VERSION_LABEL + reported + (reported.empty() ? "" : "</td>"));
        EXPECT_EQ(occurrences(printed, NOT_MATCHING), 1) << "reported \"" << reported << '"';
        EXPECT_EQ(occurrences(printed, SUCCESS), 0) << "reported \"" << reported << '"';
        EXPECT_EQ(std::string(upgrade_state.device_info.software_version), reported);
    }
}

TEST_F(VersionCheck, TheVersionReadBeforeTheUpgradeDoesNotConfirmAPageWithoutTheLabel) {
    // The status query before the upgrade found the image's version already.
    std::strcpy(upgrade_state.device_info.software_version, "3.2.9(b)");
    std::string printed = verify_against("<tr><td>Product Name:</td><td>TEV-4400</td></tr>\n");
    EXPECT_EQ(occurrences(printed, NOT_MATCHING), 1);
    EXPECT_EQ(occurrences(printed, SUCCESS), 0);
}

TEST_F(VersionCheck, AfterTheTransitionImageOnlyAVersionThatNoLongerNeedsItGoesOn) {
    upgrade_state.stage = STAGE_TRANSITION;
    upgrade_state.transition_image = FirmwareImage{};
    std::strcpy(reinterpret_cast<char*>(upgrade_state.transition_image.header) +
                    IMAGE_VERSION_OFFSET, "3.1.0");
    const struct {
        int is_phone_model;
        const char* reported;
        bool goes_on;
    } cases[] = {
        {0, "3.1.0", true},       // the transition image's version
        {0, "3.0.9(z)", false},   // still the old one: the flash did not take
        {0, "3.1.1", false},      // newer, yet not the image just served
        {1, "3.1.0(h)", true},    // the handset's version is not compared, only weighed
        {1, "3.0.9(z)", false},
        {1, "3.1.0(NT)", false},  // the marker still asks for the transition
    };
    for (const auto& c : cases) {
        upgrade_state.is_phone_model = c.is_phone_model;
        EXPECT_EQ(verified_by(VERSION_LABEL + c.reported + "</td>"), c.goes_on) << c.reported;
        std::string printed = console->printed();
        EXPECT_EQ(occurrences(printed, NOT_MATCHING), c.goes_on ? 0 : 1) << c.reported;
        EXPECT_EQ(occurrences(printed, SUCCESS), 0) << c.reported;  // not before the target
    }
    upgrade_state.transition_image = FirmwareImage{};
    upgrade_state.is_phone_model = 0;
}

// An answer after the flash that is no status page gets the status query's box for it, not
// "Version not matching", nor for the handset (its version not compared) a success.
TEST_F(VersionCheck, AnAnswerThatIsNoStatusPageGetsTheStatusQuerysBox) {
    std::strcpy(upgrade_state.device_info.product_name, "TEV-4400");  // from the status query
    for (int is_phone_model : {0, 1}) {
        upgrade_state.is_phone_model = is_phone_model;
        for (const char* answer : {"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"TEV\"\r\n\r\n",
                                   "HTTP/1.1 404 Not Found\r\n\r\n<html>gone</html>"}) {
            console.reset();
            console = std::make_unique<ConsoleCapture>("");
            HttpTestServer device({answer}, AfterAnswer::CLOSE, TYPED_ADDRESS);
            TftpSession session{};
            session.local_ip = CHOSEN_LOCAL_ADDRESS;
            EXPECT_FALSE(verify_upgrade(&session, false, device.port())) << answer;
            char box[STATUS_BOX_TEXT_SIZE];
            status_box_text(answer, static_cast<std::int32_t>(std::strlen(answer)), box, sizeof box);
            EXPECT_EQ(occurrences(console->printed(), box), 1) << answer;
            EXPECT_EQ(occurrences(console->printed(), "Upgrade Failed"), 1) << answer;
        }
    }
    upgrade_state.is_phone_model = 0;
}

// The run's end after the check: the result event carries the outcome, the box's text and the
// version read before the upgrade and after the flash, and the exit status follows the outcome.
TEST_F(VersionCheck, TheResultEventCarriesTheOutcomeTheBoxAndBothVersions) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    run_outcome_version_before("3.1.8(a)");
    verify_against(VERSION_LABEL + "3.2.9(b)</td>");
    EXPECT_EXIT(run_end(), ::testing::ExitedWithCode(EXIT_VERIFIED),
                "result: verified; text: TEV@127.0.0.2 Upgrade Successful!; before: 3.1.8\\(a\\); "
                "after: 3.2.9\\(b\\)\n");
    verify_against(VERSION_LABEL + "3.2.9(c)</td>");
    EXPECT_EXIT(run_end(), ::testing::ExitedWithCode(EXIT_FAILED),
                "result: failed; text: Upgrade Failed: Version not matching; before: "
                "3.1.8\\(a\\); after: 3.2.9\\(c\\)\n");
}

TEST(FlashWait, TicksCountAcrossTheWrapOfTheTickCounter) {
    EXPECT_EQ(ticks_since(100, 1037), 937u);
    EXPECT_EQ(ticks_since(TICK_WRAP - 10, 5), 15u);
    // The millisecond clock wraps at 2^32 ms, which is where 27-bit ticks wrap.
    std::uint32_t before_wrap = 0xFFFFFFF0u >> TICK_SHIFT;
    std::uint32_t after_wrap = (0xFFFFFFF0u + 937u * 32u) >> TICK_SHIFT;
    EXPECT_EQ(ticks_since(before_wrap, after_wrap), 937u);
}

TEST(RunEventsTest, FlashWaitCountsWholeSecondsDownOncePerSecond) {
    EXPECT_EQ(flash_seconds_left(0), 30);
    EXPECT_EQ(flash_seconds_left(FLASH_WAIT_TICKS), 0);
    int changes = 0;
    for (std::uint32_t tick = 1; tick <= FLASH_WAIT_TICKS; ++tick) {
        if (flash_seconds_left(tick) != flash_seconds_left(tick - 1)) ++changes;
    }
    EXPECT_EQ(changes, 30);
}

}  // namespace
