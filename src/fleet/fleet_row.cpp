// The rows of a run over several devices: each device's event lines turned into its state, its
// child's end into its result, and the short texts a row shows.
#include "fleet/fleet_row.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

std::string text_of(const Json& e, const char* key) {
    auto value = e.find(key);
    return value != e.end() && value->is_string() ? value->get<std::string>() : std::string();
}

long number_of(const Json& e, const char* key) {
    auto value = e.find(key);
    return value != e.end() && value->is_number() ? value->get<long>() : 0;
}

// Seconds as the result tells them; -1 when absent or not a time.
double seconds_of(const Json& e, const char* key) {
    auto value = e.find(key);
    if (value == e.end() || !value->is_number()) return -1;
    double seconds = value->get<double>();
    return seconds >= 0 ? seconds : -1;
}

bool flag_of(const Json& e, const char* key) {
    auto value = e.find(key);
    return value != e.end() && value->is_boolean() && value->get<bool>();
}

// Texts from the device go to a terminal, a list view and a report: no control characters.
std::string printable(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    return text;
}

constexpr const char* USER_ABORT_TEXT = "Upgrade Failed: User Abort";
// The POSIX numbers; a Windows child always "exits".
constexpr int SIGNAL_INTERRUPT = 2;
constexpr int SIGNAL_KILL = 9;
// A Windows child that crashed exits with its exception code (0xC0000005, ...).
constexpr unsigned WINDOWS_EXCEPTION_CODES = 0xC0000000u;

std::string end_text(const FleetChildEnd& end) {
    if (!end.exited) {
        std::string signal = "signal " + std::to_string(end.code);
        return end.code == SIGNAL_KILL ? "killed by " + signal : "crashed: " + signal;
    }
    if ((static_cast<unsigned>(end.code) & WINDOWS_EXCEPTION_CODES) == WINDOWS_EXCEPTION_CODES) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(end.code));
        return std::string("crashed: exception ") + code;
    }
    return "ended with status " + std::to_string(end.code) + " without a result";
}

// A child whose result came, but whose end does not go with it.
std::string end_after_result(const FleetChildEnd& end, const std::string& result) {
    std::string ended = end.exited && (static_cast<unsigned>(end.code) & WINDOWS_EXCEPTION_CODES) !=
                                          WINDOWS_EXCEPTION_CODES
                            ? "ended with status " + std::to_string(end.code)
                            : end_text(end);
    return ended + " after its result '" + result + "': check the device's version";
}

// The run asked the child to stop, and the system's interrupt ended it before it could press its
// own Cancel (it had not yet taken the signal over): a cancel all the same, not a crash.
bool interrupted_by_the_run(const FleetChildEnd& end) {
    return !end.exited && end.code == SIGNAL_INTERRUPT && end.cancelled;
}

// The image an event names, when it names one.
void read_image(FleetRow* row, const Json& e) {
    std::string product = text_of(e, "image_product");
    if (!product.empty()) row->image = printable(product + " " + text_of(e, "image_version"));
}

void read_status(FleetRow* row, const Json& e) {
    row->product = printable(text_of(e, "product_name"));
    row->mac = printable(text_of(e, "mac_address"));
    row->serial = printable(text_of(e, "serial_number"));
    row->hardware = printable(text_of(e, "hardware_version"));
    row->before = printable(text_of(e, "software_version"));
    read_image(row, e);
}

void read_result(FleetRow* row, const Json& e) {
    std::string result = text_of(e, "result");
    row->has_result = true;
    if (result == "verified") {
        row->state = FleetState::VERIFIED;
    } else if (result == "current") {
        row->state = FleetState::CURRENT;
    } else if (result == "needs-upgrade") {
        row->state = FleetState::NEEDS_UPGRADE;
    } else if (result == "other-model") {
        row->state = FleetState::OTHER_MODEL;
        row->reason = printable(text_of(e, "text"));
    } else {
        row->state = FleetState::FAILED;
        row->reason = printable(text_of(e, "text"));
        if (row->image_sent && row->reason == USER_ABORT_TEXT) {
            row->reason = INTERRUPTED_FLASHING_TEXT;
        }
    }
    if (!text_of(e, "version_before").empty()) row->before = printable(text_of(e, "version_before"));
    row->after = printable(text_of(e, "version_after"));
    read_image(row, e);
    row->seconds_status = seconds_of(e, "seconds_status");
    row->seconds_transfer = seconds_of(e, "seconds_transfer");
    row->seconds_flash = seconds_of(e, "seconds_flash");
}

// The exit status each result must come with.
bool status_matches(FleetState state, const FleetChildEnd& end) {
    if (!end.exited) return false;
    if (state == FleetState::NEEDS_UPGRADE) return end.code == CHILD_NEEDS_UPGRADE_STATUS;
    if (state == FleetState::OTHER_MODEL) return end.code == CHILD_OTHER_MODEL_STATUS;
    return end.code == 0;
}

struct ShortReason {
    const char* full;
    const char* shown;
};

constexpr ShortReason SHORT_REASONS[] = {
    {"Upgrade Failed: the device refused the password", "wrong password"},
    {"Upgrade Failed: the device wants a password; give it with --password-file FILE or "
     "TEV_PASSWORD",
     "password needed"},
    {"Upgrade Failed: the device wants a password; give it with /passwordfile FILE or "
     "TEV_PASSWORD",
     "password needed"},
    {NO_ANSWER_TEXT, "no answer"},
    {UPLOAD_INCOMPLETE_TEXT, "upload incomplete"},
    {"Upgrade Failed: Version not matching", "version not matching"},
    {"Upgrade Failed: The Address Answered, But Not As A TEV", "not a TEV"},
    {USER_ABORT_TEXT, "cancelled"},
    {INTERRUPTED_FLASHING_TEXT, "interrupted while flashing"},
};

void replace_all(std::string* text, const std::string& what, const std::string& with) {
    for (std::size_t at = text->find(what); at != std::string::npos;
         at = text->find(what, at + with.size())) {
        text->replace(at, what.size(), with);
    }
}

}  // namespace

bool fleet_apply_event(FleetRow* row, const std::string& line) {
    Json e = Json::parse(line, nullptr, false);
    if (e.is_discarded() || !e.is_object()) return false;
    std::string name = text_of(e, "event");
    if (name.empty()) return false;
    if (fleet_row_ended(*row) || row->has_result) return true;
    if (name == "start") {
        row->state = FleetState::CONNECTING;
    } else if (name == "connect") {
        row->connect_attempt = static_cast<int>(number_of(e, "attempt"));
        row->connect_attempts = static_cast<int>(number_of(e, "attempts"));
    } else if (name == "status" || name == "check") {
        read_status(row, e);
        row->connect_attempt = 0;
    } else if (name == "listening") {
        row->state = FleetState::WAITING_REQUEST;
    } else if (name == "command") {
        // Once a device took a command it may fetch an image, whatever a later stage hears.
        row->command_taken = row->command_taken || flag_of(e, "answered");
    } else if (name == "request") {
        row->state = FleetState::UPLOADING;
        row->percent = 0;
    } else if (name == "upload") {
        long total = number_of(e, "total");
        long bytes = number_of(e, "bytes");
        row->state = FleetState::UPLOADING;
        row->percent = total > 0 && bytes >= 0 && bytes <= total
                           ? static_cast<int>(bytes * 100 / total) : 0;
    } else if (name == "uploaded") {
        row->state = FleetState::FLASHING;
        row->image_sent = true;
        row->seconds_left = -1;
    } else if (name == "flash-wait") {
        row->state = FleetState::FLASHING;
        row->seconds_left = static_cast<int>(number_of(e, "seconds_left"));
    } else if (name == "verify") {
        row->state = FleetState::VERIFYING;
        row->attempt = static_cast<int>(number_of(e, "attempt"));
    } else if (name == "result") {
        read_result(row, e);
    }
    return true;
}

void fleet_child_ended(FleetRow* row, const FleetChildEnd& end, std::int64_t now_ms) {
    row->ended_ms = now_ms;
    bool good_result = row->has_result && row->state != FleetState::FAILED;
    // A device that answered stays so even when the run's cancel came too late to matter.
    if (good_result && status_matches(row->state, end)) return;
    std::string what = end.why;
    auto add = [&what](const std::string& text) { what = what.empty() ? text : what + "; " + text; };
    if (good_result) {
        // The device answered, but the child did not end as such a run does.
        if (what.empty()) add(end_after_result(end, fleet_result_word(*row)));
    } else if (interrupted_by_the_run(end)) {
        if (row->image_sent) add(INTERRUPTED_FLASHING_TEXT);
        else if (what.empty()) add(USER_ABORT_TEXT);
    } else if (row->has_result) {
        // Cancelled by the run (its deadline), not by a person: the cause is the run's, and a
        // device that never answered says so.
        bool run_cancelled = !what.empty() && row->reason == USER_ABORT_TEXT;
        if (!run_cancelled) add(row->reason);
        if (run_cancelled && row->connect_attempt > 1) add("no answer");
    } else {
        if (row->image_sent) add(INTERRUPTED_FLASHING_TEXT);
        std::string ended = end_text(end);
        if (!end.stderr_tail.empty()) ended += ": " + printable(end.stderr_tail);
        add(ended);
    }
    row->state = FleetState::FAILED;
    row->reason = what;
}

bool fleet_row_ended(const FleetRow& row) {
    return row.state == FleetState::VERIFIED || row.state == FleetState::CURRENT ||
           row.state == FleetState::NEEDS_UPGRADE || row.state == FleetState::OTHER_MODEL ||
           row.state == FleetState::FAILED || row.state == FleetState::NOT_STARTED;
}

bool fleet_row_finished(const FleetRow& row) {
    return row.ended_ms >= 0 || row.state == FleetState::NOT_STARTED;
}

bool fleet_row_succeeded(const FleetRow& row) {
    return row.state == FleetState::VERIFIED || row.state == FleetState::CURRENT ||
           row.state == FleetState::NEEDS_UPGRADE;
}

int fleet_exit_status(const std::vector<FleetRow>& rows) {
    bool needs_upgrade = false;
    bool other_model = false;
    for (const FleetRow& row : rows) {
        if (row.state == FleetState::OTHER_MODEL) other_model = true;
        else if (!fleet_row_succeeded(row)) return 1;
        if (row.state == FleetState::NEEDS_UPGRADE) needs_upgrade = true;
    }
    if (needs_upgrade) return CHILD_NEEDS_UPGRADE_STATUS;
    return other_model ? CHILD_OTHER_MODEL_STATUS : 0;
}

void fleet_row_take(FleetRow* kept, const FleetRow& step_row) {
    FleetRow old = *kept;
    *kept = step_row;
    kept->label = old.label;
    if (kept->product.empty()) {
        kept->product = old.product;
        kept->mac = old.mac;
        kept->serial = old.serial;
        kept->hardware = old.hardware;
        kept->image = old.image;
    }
    // "Before" is before the run: a later step may find the device at the version an earlier
    // one gave it.
    if (!old.before.empty()) kept->before = old.before;
}

std::string fleet_result_word(const FleetRow& row) {
    switch (row.state) {
        case FleetState::VERIFIED: return "verified";
        case FleetState::CURRENT: return "current";
        case FleetState::NEEDS_UPGRADE: return "needs-upgrade";
        case FleetState::OTHER_MODEL: return "other-model";
        case FleetState::FAILED: return "failed";
        case FleetState::NOT_STARTED: return "not-started";
        default: return "";
    }
}

std::string fleet_short_reason(const std::string& reason) {
    // A reason may hold several parts ("passed its deadline of 600 s; Upgrade Failed: ..."):
    // each known text is replaced where it stands.
    std::string text = reason;
    for (const ShortReason& known : SHORT_REASONS) replace_all(&text, known.full, known.shown);
    replace_all(&text, "Upgrade Failed: ", "");
    return text;
}

std::string fleet_state_text(const FleetRow& row) {
    switch (row.state) {
        case FleetState::QUEUED: return "queued";
        case FleetState::CONNECTING:
            if (row.connect_attempt > 1) {
                return "no answer, attempt " + std::to_string(row.connect_attempt) + " of " +
                       std::to_string(row.connect_attempts);
            }
            return "connecting";
        case FleetState::WAITING_REQUEST: return "waiting for the request";
        case FleetState::UPLOADING: return "uploading " + std::to_string(row.percent) + "%";
        case FleetState::FLASHING:
            return row.seconds_left < 0 ? "flashing"
                                        : "flashing, " + std::to_string(row.seconds_left) + " s left";
        case FleetState::VERIFYING:
            return row.attempt > 1 ? "verifying (attempt " + std::to_string(row.attempt) + ")"
                                   : "verifying";
        case FleetState::RETRY_WAIT:
            return "retry " + std::to_string(row.attempts + 1) + " of " +
                   std::to_string(row.attempts_allowed) + " in " +
                   std::to_string(std::max(row.retry_in_s, 0)) + " s";
        case FleetState::VERIFIED: return "verified";
        case FleetState::CURRENT: return "already current";
        case FleetState::NEEDS_UPGRADE: return "needs upgrade";
        case FleetState::OTHER_MODEL: return "other model: " + row.reason;
        case FleetState::FAILED: return "failed: " + fleet_short_reason(row.reason);
        case FleetState::NOT_STARTED: return "not started: " + row.reason;
    }
    return "";
}
