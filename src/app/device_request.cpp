// The device request runner.
#include "app/device_request.h"

#include <mutex>

#include "app/device_http.h"
#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/threads.h"
#include "res/dialog_ids.h"
#include "ui/dialog_procs.h"
#include "ui/error_box.h"
#include "ui/scripted_answers.h"

namespace {

struct ProgressCycle {
    int poll_count;
    int position;
};

void step_progress(WindowHandle dialog, ProgressCycle* cycle) {
    if (++cycle->poll_count < POLLS_PER_PROGRESS_STEP) return;
    dialog_progress_position(dialog, CONTROL_PROGRESS, cycle->position);
    if (++cycle->position > CONNECTING_PROGRESS_MAX) cycle->position = 0;
    cycle->poll_count = 0;
}

// The exchange whose worker runs, whichever thread's runner started it. Two exchanges would share
// the response buffer, the device values and the digest state; a server that keeps its
// connection open without giving a length can leave the upgrade command's exchange running when
// the queries after the flash begin.
std::mutex in_flight_lock;
HttpStop* in_flight = nullptr;

// Makes stop the exchange in flight; an earlier one still running is ended first, and its worker
// has finished before this returns.
void claim_exchange(HttpStop* stop) {
    bool ended = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(in_flight_lock);
            if (in_flight == nullptr) {
                in_flight = stop;
                return;
            }
            if (!ended) {
                trace("An earlier request to the device is still running: ending it first\n");
                http_stop(in_flight);
                ended = true;
            }
        }
        clock_sleep_ms(1);
    }
}

void release_exchange() {
    std::lock_guard<std::mutex> hold(in_flight_lock);
    in_flight = nullptr;
}

// One attempt: the exchange on a worker while this thread keeps the connecting dialog alive.
std::int32_t run_attempt(RequestJob* job, ProgressCycle* cycle) {
    WindowHandle dialog = dialog_open_modeless(job->instance, DIALOG_CONNECTING,
                                               connecting_dialog_proc);
    dialog_show(dialog);
    std::int32_t result = 0;
    HttpStop stop;
    job->stop = &stop;
    claim_exchange(&stop);
    ThreadState* worker = thread_start(device_request_worker, job);
    if (worker == nullptr) {
        // No thread, no exchange: the caller sees no answer and reports it.
        release_exchange();
        dialog_destroy(dialog);
        return 0;
    }
    while (!thread_finished(worker, &result)) {
        dialog_pump_one(dialog);
        clock_sleep_ms(1);
        step_progress(dialog, cycle);
    }
    thread_release(worker);
    release_exchange();
    dialog_destroy(dialog);
    return result;
}

// After a refusal: re-send silently once when the device has just issued a new nonce and a
// password is known; otherwise the caller asks the user.
bool may_resend_silently(int silent_retries) {
    return upgrade_state.auth.password[0] != 0 && upgrade_state.auth.nonce_count == 0 &&
           silent_retries == 0;
}

}  // namespace

std::int32_t device_request_worker(void* argument) {
    const auto* job = static_cast<const RequestJob*>(argument);
    trace_name_thread("request");
    trace("HTTP %x:%u to %x:%u", job->local_address, job->local_port, job->device_address,
          job->device_port);
    return http_get(job->local_address, job->local_port, job->device_address, job->device_port,
                    job->path, job->buffer, job->limit, job->stop, job->answer_limit_ms);
}

std::uint32_t status_answer_limit_ms() {
    return scripted_answers_unwatched() ? STATUS_ANSWER_LIMIT_MS : 0;
}

std::int32_t run_device_request(ModuleHandle instance, std::uint32_t local_address,
                                std::uint16_t local_port, std::uint32_t device_address,
                                std::uint16_t device_port, const char* path, char* buffer,
                                std::int32_t limit, std::uint32_t answer_limit_ms) {
    ProgressCycle cycle{0, 0};
    int silent_retries = 0;
    for (;;) {
        RequestJob job{instance, local_address, local_port, device_address, device_port,
                       path,     buffer,        limit,      nullptr,        answer_limit_ms};
        std::int32_t result = run_attempt(&job, &cycle);
        if (result >= 0) return result;
        if (may_resend_silently(silent_retries)) {
            trace("Device refused the request with a new nonce: sending it again once\n");
            ++silent_retries;
            continue;
        }
        trace("Device wants credentials%s: asking the user\n",
              upgrade_state.auth.password[0] != 0 ? " (the last ones were refused)" : "");
        // A password dialog that could not be created (below 0) is a Cancel too: sending the
        // refused request again without new credentials would go on for ever.
        if (dialog_run_modal(instance, DIALOG_PASSWORD, password_dialog_proc) <= 0) {
            trace("Password dialog cancelled\n");
            fail_upgrade("Upgrade Failed: User Abort");
        }
        silent_retries = 0;
    }
}
