// The dialogs behind the TFTP server.
#include "app/transfer_dialogs.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "app/post_transfer.h"
#include "core/run_report.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "res/dialog_ids.h"
#include "res/dialog_texts.h"
#include "tftp/tftp_listener.h"
#include "tftp/tftp_session.h"
#include "ui/dialog_procs.h"
#include "ui/error_box.h"

namespace {

const char* stage_label() {
    return upgrade_state.stage.load() != STAGE_TRANSITION ? "Target" : "Transition";
}

void open_waiting_dialog(bool with_text) {
    WindowHandle dialog =
        dialog_open_modeless(upgrade_state.app_instance, DIALOG_WAITING, transfer_dialog_proc);
    upgrade_state.waiting_dialog = dialog;
    dialog_show(dialog);
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0, WAITING_PROGRESS_CYCLE);
    dialog_progress_position(dialog, CONTROL_PROGRESS, 0);
    if (with_text) dialog_set_item_text(dialog, CONTROL_WAITING_TEXT, text_waiting);
}

void open_upload_dialog(const TftpSession* session) {
    WindowHandle dialog =
        dialog_open_modeless(upgrade_state.app_instance, DIALOG_UPLOAD, transfer_dialog_proc);
    upgrade_state.upload_dialog = dialog;
    dialog_show(dialog);
    // The bar's range is a 16-bit value; an image that fits the block numbers fits it too.
    dialog_progress_range(dialog, CONTROL_PROGRESS, 0,
                          static_cast<int>(session->block_count & 0xFFFFu));
}

// The upload dialog's title, "Uploading %s Firmware to TEV@%s %d/%d Bytes", and its bar. Its words
// are set once per transfer and each showing writes only the numbers. Drawing a title and a bar
// costs far more than a block's exchange with a device on a good network (a window title may be a
// trip to the display server), so they are shown at most every TITLE_INTERVAL_MS; the first and the
// last count at once. A count held back is shown by the first poll that finds nothing to receive
// once the interval has passed, so that when the acknowledgements stop, what the dialog shows is
// never more than about TITLE_INTERVAL_MS behind.
constexpr std::uint32_t TITLE_INTERVAL_MS = 40;

struct UploadTitle {
    char text[128];
    std::size_t words_length;
    bool shown;                     // some count has been shown in this transfer
    std::uint32_t shown_ms;         // when the last count was shown
    const TftpSession* held_back;   // the session whose latest count is not shown yet, or none
};

void start_upload_title(UploadTitle* title) {
    int length = std::snprintf(title->text, sizeof title->text, "Uploading %s Firmware to TEV@%s ",
                               stage_label(), upgrade_state.device_ip_text);
    title->words_length = std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)),
                                                sizeof title->text - 1);
    title->shown = false;
    title->shown_ms = 0;
    title->held_back = nullptr;
}

void draw_acknowledged(const TftpSession* session, UploadTitle* title) {
    dialog_progress_position(upgrade_state.upload_dialog, CONTROL_PROGRESS,
                             static_cast<int>(session->current_block));
    char* next = title->text + title->words_length;
    char* end = title->text + sizeof title->text - 1;
    next = std::to_chars(next, end, static_cast<int>(session->bytes_acked)).ptr;
    if (next < end) *next++ = '/';
    next = std::to_chars(next, end, static_cast<int>(session->transfer_size)).ptr;
    const char bytes[] = " Bytes";
    std::size_t room = static_cast<std::size_t>(end - next);
    std::size_t tail = std::min(room, sizeof bytes - 1);
    std::memcpy(next, bytes, tail);
    next[tail] = 0;
    dialog_set_title(upgrade_state.upload_dialog, title->text);
    run_events().upload(session->bytes_acked, session->transfer_size);
    title->shown = true;
    title->shown_ms = clock_ms();
    title->held_back = nullptr;
}

// True when the count was drawn now.
bool show_acknowledged(const TftpSession* session, UploadTitle* title) {
    bool last = session->current_block > session->block_count;
    if (!title->shown || last || clock_ms() - title->shown_ms >= TITLE_INTERVAL_MS) {
        draw_acknowledged(session, title);
        return true;
    }
    title->held_back = session;
    return false;
}

// The final flush: a count held back is shown once the acknowledgements pause.
void show_held_back_count(UploadTitle* title) {
    if (title->held_back == nullptr) return;
    if (clock_ms() - title->shown_ms < TITLE_INTERVAL_MS) return;
    draw_acknowledged(title->held_back, title);
}

// Milliseconds until a count held back is due to show; NO_POLL_DUE when none is held back.
std::uint32_t held_back_due_ms(const UploadTitle& title) {
    if (title.held_back == nullptr) return TftpEvents::NO_POLL_DUE;
    std::uint32_t since = clock_ms() - title.shown_ms;
    return since < TITLE_INTERVAL_MS ? TITLE_INTERVAL_MS - since : 0;
}

class TransferDialogs final : public TftpEvents {
public:
    void waiting(bool first) override { open_waiting_dialog(first); }

    void waiting_poll(int idle_counter) override {
        dialog_progress_position(upgrade_state.waiting_dialog, CONTROL_PROGRESS, idle_counter);
        dialog_pump_all(upgrade_state.waiting_dialog);
    }

    void request_accepted() override {
        dialog_destroy(upgrade_state.waiting_dialog);
        upgrade_state.waiting_dialog = nullptr;
    }

    void transfer_started(const TftpSession& session) override {
        run_events().request_from(session.peer_ip, session.peer_port);
        open_upload_dialog(&session);
        start_upload_title(&title_);
    }

    // While acknowledgements stream in, the session waits only for the device and never polls:
    // a count drawn is also the dialog's turn to show it and to take a click.
    void block_acknowledged(const TftpSession& session) override {
        if (show_acknowledged(&session, &title_)) dialog_pump_one(upgrade_state.upload_dialog);
    }

    void transfer_poll() override {
        dialog_pump_one(upgrade_state.upload_dialog);
        show_held_back_count(&title_);
    }

    std::uint32_t transfer_poll_due_ms() override { return held_back_due_ms(title_); }

    void transfer_ended(const TftpSession& session, TransferOutcome outcome) override {
        bool failed = upload_incomplete(outcome, upgrade_state.is_phone_model != 0);
        if (!failed) run_events().uploaded();
        finish_after_transfer(&session, failed);
    }

    void fail(const char* message) override { fail_upgrade(message); }

private:
    UploadTitle title_{};
};

}  // namespace

TftpEvents& transfer_dialogs() {
    static TransferDialogs dialogs;
    return dialogs;
}
