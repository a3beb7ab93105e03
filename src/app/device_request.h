// The device request runner: every HTTP request to the device runs on a worker thread behind the
// connecting dialog, and a refusal for want of credentials leads to a re-send or the password
// dialog.
#pragma once
#include <cstdint>

#include "platform/dialogs.h"
#include "web/http_client.h"

constexpr std::uint16_t HTTP_LOCAL_PORT = 23456;
constexpr std::uint16_t HTTP_DEVICE_PORT = 80;
constexpr const char* STATUS_PAGE_PATH = "/admin/advanced";
constexpr int CONNECTING_PROGRESS_MAX = 100;
constexpr int POLLS_PER_PROGRESS_STEP = 10;
// How long a status request waits for its answer when nobody is there to press Cancel. A TEV
// answers its status page within a second; a device that takes the request and stays silent this
// long is not going to answer, and ending the attempt as no answer leaves the whole run (600 s by
// default) room for the ten queries after the flash.
constexpr std::uint32_t STATUS_ANSWER_LIMIT_MS = 30'000;

struct RequestJob {
    ModuleHandle instance;
    std::uint32_t local_address;
    std::uint16_t local_port;
    std::uint32_t device_address;
    std::uint16_t device_port;
    const char* path;
    char* buffer;
    std::int32_t limit;
    HttpStop* stop;  // lets a request from another thread end this one first
    std::uint32_t answer_limit_ms;  // 0: the answer may take as long as the device takes
};

// Returns the number of answer bytes received, 0 or more; never a refusal. With answer_limit_ms,
// each attempt whose answer is not whole that long after its request went out ends as no answer
// (0), as if the device had not answered at all.
std::int32_t run_device_request(ModuleHandle instance, std::uint32_t local_address,
                                std::uint16_t local_port, std::uint32_t device_address,
                                std::uint16_t device_port, const char* path, char* buffer,
                                std::int32_t limit, std::uint32_t answer_limit_ms = 0);
// The answer limit of a status request: STATUS_ANSWER_LIMIT_MS in a run nobody watches (--yes,
// --check), where a device that never answers would otherwise hold the run until its deadline; 0
// when a person answers the dialogs and keeps the connecting dialog's Cancel.
std::uint32_t status_answer_limit_ms();
std::int32_t device_request_worker(void* job);
