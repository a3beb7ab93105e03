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
};

// Returns the number of answer bytes received, 0 or more; never a refusal.
std::int32_t run_device_request(ModuleHandle instance, std::uint32_t local_address,
                                std::uint16_t local_port, std::uint32_t device_address,
                                std::uint16_t device_port, const char* path, char* buffer,
                                std::int32_t limit);
std::int32_t device_request_worker(void* job);
