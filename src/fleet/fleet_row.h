// One row per device of a run over several devices: what its child's event lines and its end say.
// Every front end (the console's table, the Windows list window) and the report draw these rows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class FleetState {
    QUEUED,           // not started yet (--jobs, --canary)
    CONNECTING,       // reading the status page, ordering the upgrade; connect_attempt
    WAITING_REQUEST,  // listening for the device's read request
    UPLOADING,        // percent
    FLASHING,         // seconds_left (-1: not told yet)
    VERIFYING,        // attempt
    RETRY_WAIT,       // failed before anything could reach its flash: tried again in retry_in_s
    // The ends:
    VERIFIED,
    CURRENT,        // already at the image's version (--skip-current, --check)
    NEEDS_UPGRADE,  // --check: answered, at another version
    OTHER_MODEL,    // of a model no image is for: sent nothing (not done); reason names both
    FAILED,         // reason
    NOT_STARTED,    // the run stopped before its turn; reason says why
};

struct FleetRow {
    std::string address;
    std::string label;     // from the devices file
    std::string product;   // as the device's status page gave them, without control characters
    std::string mac;
    std::string serial;
    std::string hardware;
    std::string before;    // its version before the upgrade
    std::string after;     // its version after, as read at the verification
    std::string image;     // the image it got or would get: "TEV-610 1.5.0"; empty: none (yet)
    FleetState state = FleetState::QUEUED;
    int percent = 0;
    int seconds_left = -1;
    int attempt = 0;           // verification attempt
    int connect_attempt = 0;   // of connect_attempts, while the device does not answer
    int connect_attempts = 0;
    bool image_sent = false;   // the upload ended: the device may be writing its flash
    bool command_taken = false;  // the device answered an upgrade command
    bool has_result = false;   // a result event came; reason holds a failure's text
    std::string reason;        // the full text of a failure, as the summary and the report give it
    std::int64_t started_ms = -1;  // when its child started, on the run's clock
    std::int64_t ended_ms = -1;
    int attempts = 0;          // children started for it: 1 + the retries so far
    int attempts_allowed = 1;  // 1 + --retries
    int retry_in_s = -1;       // RETRY_WAIT: whole seconds to the next attempt
    // From its result: the seconds of the status page, the transfer and the flash (below 0: the
    // phase did not happen, or not to its end).
    double seconds_status = -1;
    double seconds_transfer = -1;
    double seconds_flash = -1;
};

// How a device's child ended.
struct FleetChildEnd {
    bool exited;              // else ended by a signal (POSIX only)
    int code;                 // the exit status or the signal
    std::string why;          // what the run did to it, if anything ("passed its deadline of 600 s")
    std::string stderr_tail;  // the last line it wrote on standard error, if any
    bool cancelled = false;   // the run asked it to stop (its deadline, Ctrl-C, Stop)
};

// The exit status a child gives for each outcome (see the single-device mode).
constexpr int CHILD_NEEDS_UPGRADE_STATUS = 3;
constexpr int CHILD_OTHER_MODEL_STATUS = 1;

// The child's texts of a device that did not answer (or refused or reset the connection) and of
// an image that did not get through: the failures another attempt may mend.
constexpr const char* NO_ANSWER_TEXT = "Upgrade Failed: No Response From TEV";
constexpr const char* UPLOAD_INCOMPLETE_TEXT = "Upgrade Failed: Firmware Upload Incomplete";

// Told when Ctrl-C or the deadline ends a device that already had the image.
constexpr const char* INTERRUPTED_FLASHING_TEXT =
    "interrupted while flashing: check its version before retrying; do not power it off";

// Applies one event line. False when the line is no event (not a JSON object with "event"); the
// row is then unchanged.
bool fleet_apply_event(FleetRow* row, const std::string& line);

// The end of the device's child: verified, current, needs-upgrade or other-model only with that
// result and the matching exit status; otherwise failed, with the result's text or what happened
// to the child.
void fleet_child_ended(FleetRow* row, const FleetChildEnd& end, std::int64_t now_ms);

bool fleet_row_ended(const FleetRow& row);
// Its child has ended (or it will not start): what the report holds. A result event comes just
// before the child's end, which may still undo it.
bool fleet_row_finished(const FleetRow& row);
// Ended well: verified or current (for a check also needs-upgrade: the device answered). A device
// of another model did not: nothing was done to it.
bool fleet_row_succeeded(const FleetRow& row);

// The run's exit status from its rows, for both programs and for one device alike: 1 when a device
// failed or was not started; else 3 when a device still needs the upgrade (a check: there is work
// for the run); else 1 when a device is of a model no image is for (not done); else 0.
int fleet_exit_status(const std::vector<FleetRow>& rows);

// A step's row taken into the run's row of the same device: the step's state and times; the
// label, the device's texts the step has not read (it failed before the device answered) and the
// version before the run's first step are kept.
void fleet_row_take(FleetRow* kept, const FleetRow& step_row);

// The result word of the report and the events: verified, current, needs-upgrade, other-model,
// failed, not-started; empty while the row has not ended.
std::string fleet_result_word(const FleetRow& row);

// The failure's reason cut to what a row has room for: "wrong password", "no answer", "upload
// incomplete", "version not matching", ...; the full text otherwise, without "Upgrade Failed: ".
std::string fleet_short_reason(const std::string& reason);

// The state as a row shows it: "uploading 45%", "no answer, attempt 3 of 10", "failed: wrong
// password", "already current", "other model: TEV-610; the image is for TEV-4400", "retry 2 of 3
// in 28 s", ...
std::string fleet_state_text(const FleetRow& row);
