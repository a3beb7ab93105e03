// Which failures a run over several devices tries again.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "fleet/fleet_retry.h"

namespace {

// The child's events before its end, one letter each: c the command answered, u the image out;
// then its result: n no answer, i upload incomplete, p password refused, t not a TEV, v version
// not matching, a User Abort, o other model, N needs-upgrade; none: no result.
std::string event_line(char letter) {
    auto failed = [](const char* text) {
        return std::string(R"({"event":"result","result":"failed","text":"Upgrade Failed: )") + text + "\"}";
    };
    switch (letter) {
        case 'c': return R"({"event":"command","answered":true})";
        case 'u': return R"({"event":"uploaded"})";
        case 'n': return failed("No Response From TEV");
        case 'i': return failed("Firmware Upload Incomplete");
        case 'p': return failed("the device refused the password");
        case 't': return failed("The Address Answered, But Not As A TEV");
        case 'v': return failed("Version not matching");
        case 'a': return failed("User Abort");
        case 'o': return R"({"event":"result","result":"other-model","text":"TEV-610"})";
        default: return R"({"event":"result","result":"needs-upgrade","text":""})";
    }
}

TEST(FleetRetry, RetriesOnlyWhatFailedBeforeTheFlash) {
    const struct {
        const char* events;
        bool exited;
        int code;
        bool cancelled;
        bool retryable;
    } cases[] = {
        {"n", true, 1, false, true},    {"i", true, 1, false, true},
        {"ci", true, 1, false, true},   {"cn", true, 1, false, false},
        {"un", true, 1, false, false},  {"ui", true, 1, false, false},
        {"p", true, 1, false, false},   {"t", true, 1, false, false},
        {"uv", true, 1, false, false},  {"ua", true, 1, false, false},
        {"a", true, 1, false, false},   {"o", true, 1, false, false},
        {"N", true, 3, false, false},   {"", true, 1, false, false},
        {"n", true, 1, true, false},    {"n", false, 11, false, false},
        {"n", true, 2, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.events) + " " + std::to_string(c.code));
        FleetRow row;
        for (const char* e = c.events; *e != 0; ++e) fleet_apply_event(&row, event_line(*e));
        // A child Ctrl-C cancelled: the run adds no reason of its own to the child's result.
        FleetChildEnd end{c.exited, c.code, "", "", c.cancelled};
        fleet_child_ended(&row, end, 1000);
        EXPECT_EQ(fleet_row_retryable(row, end), c.retryable);
    }
}

}  // namespace
