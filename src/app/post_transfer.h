// After the transfer: the wait while the device writes its flash, then the version check.
#pragma once
#include <cstdint>

#include "app/device_request.h"
#include "tftp/tftp_session.h"

constexpr std::uint32_t FLASH_WAIT_TICKS = 937;  // ticks of 32 ms: 29,984 ms
constexpr std::uint32_t TICK_SHIFT = 5;
constexpr std::uint32_t TICK_WRAP = 1u << 27;    // a 32-bit millisecond clock has 27-bit ticks
constexpr int VERIFY_ATTEMPTS = 10;

// Ticks from start to now, over a wrap of the tick counter.
std::uint32_t ticks_since(std::uint32_t start_tick, std::uint32_t now_tick);

// The whole seconds of the wait still to come, rounded up: the run's events tell it once a second.
int flash_seconds_left(std::uint32_t elapsed_ticks);
// The wait behind the upload dialog, which it destroys at the end.
void wait_for_flash();
// Reports a failed transfer, or reads the status page again and checks the version. The device's
// web server is at device_port (another port only in tests). True when the device now runs the
// image's version (the handset: any version) and, after the transition image, one that no longer
// needs it; otherwise an error box has said why.
bool verify_upgrade(const TftpSession* session, bool upload_failed,
                    std::uint16_t device_port = HTTP_DEVICE_PORT);
// The wait and the check; after the transition image, a failed check ends the upgrade (status 1)
// before the target stage.
void finish_after_transfer(const TftpSession* session, bool upload_failed);
