// The one process-wide record of an upgrade, shared by every part of the program.
#pragma once
#include <atomic>
#include <cstdint>

#include "core/device_info.h"
#include "core/digest_auth_state.h"
#include "core/firmware_images.h"
#include "platform/dialogs.h"

constexpr std::int32_t STAGE_TRANSITION = 0;
constexpr std::int32_t STAGE_TARGET = 1;

constexpr int LOCAL_ADDRESS_COUNT = 8;
constexpr int HOST_NAME_SIZE = 128;
constexpr int DEVICE_IP_TEXT_SIZE = 32;
constexpr int TFTP_FILE_NAME_SIZE = 128;
constexpr int PRODUCT_LABEL_SIZE = 32;
constexpr int RESPONSE_BUFFER_SIZE = 131072;
constexpr int RESPONSE_LIMIT = RESPONSE_BUFFER_SIZE - 1;

struct UpgradeState {
    // Written by one thread while another polls it, so it is one indivisible 32-bit word.
    std::atomic<std::int32_t> stage;
    ModuleHandle app_instance;
    char host_name[HOST_NAME_SIZE];
    std::uint32_t local_addresses[LOCAL_ADDRESS_COUNT];
    std::uint32_t local_ip;
    std::uint32_t device_ip;
    char device_ip_text[DEVICE_IP_TEXT_SIZE];
    char tftp_file_name[TFTP_FILE_NAME_SIZE];
    char product_label[PRODUCT_LABEL_SIZE];
    std::int32_t is_phone_model;
    FirmwareImage target_image;
    FirmwareImage transition_image;
    DeviceInfo device_info;
    DigestAuthState auth;
    char response_buffer[RESPONSE_BUFFER_SIZE];
    WindowHandle waiting_dialog;
    WindowHandle upload_dialog;
};
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

extern UpgradeState upgrade_state;
// The stage the program starts in: 0 when the build carries a transition image, else 1.
extern const std::int32_t INITIAL_STAGE;
