// The upgrade sequence: the main thread's script from the warning to the upgrade command.
#pragma once
#include <cstdint>

#include "core/run_images.h"

constexpr const char* UPGRADE_COMMAND_FORMAT = "/admin/upgrade?tftp://%u.%u.%u.%u:%u%s";
constexpr const char* TRANSITION_MARKER = "(NT";
constexpr int COMMAND_PATH_SIZE = 128;

// What the sequence does once it has read the device's status page: upgrade it (the default),
// leave it alone when it already runs the image's version (--skip-current), or only report what it
// found (--check).
enum class StatusAction { UPGRADE, SKIP_CURRENT, CHECK };
void upgrade_sequence_set_action(StatusAction action);
// Whether the run is a check (--check).
bool upgrade_sequence_checks();
// The device's address and this computer's address the options give (nullptr: none): a check
// given the device shows neither the upgrade's warning nor the address dialog.
void upgrade_sequence_set_addresses(const char* device, const char* local);
// --any-model: a device of a model no image is for gets the program's own image all the same.
void upgrade_sequence_set_any_model(bool any_model);
// Makes the image of the device's model (the program's own, or one from a file) the one that
// everything after uses: the bytes sent and their size, the version checked after the flash, the
// handset's rules; an image from a file never follows a transition image. nullptr, with nothing
// changed, when the device is of a model no image is for and any_model is false. An image from a
// file is read now; a file that can no longer be read ends the run (status 1).
const RunImage* use_image_for_device(const char* product_name, bool any_model);
// The model check, after the status page is read and before anything else is sent: the device
// gets the image of its model, or the run ends as other-model (an upgrade shows a box that says so
// first, before the confirmation). The status event goes out in between, with the image chosen.
void check_device_model();
// Whether the device already runs the target image's version, compared exactly as the
// verification after the flash compares.
bool device_is_current(const char* device_version);

// Runs the sequence; returns 0 at its early exits and never returns once the command is sent.
int run_upgrade_sequence();
// The integer value of a version text: up to three numbers, each weighing 100 times the next.
std::int32_t version_value(const char* text);
// The address the upgrade command names: the one chosen for the device, or when that is 0 (any
// of this computer's) the one the status query's connection left from. 0: neither is known, and
// no device could fetch from it.
std::uint32_t upgrade_command_address(std::uint32_t chosen, std::uint32_t status_query_from);
// Formats the upgrade command path for the address and port into path (COMMAND_PATH_SIZE bytes);
// returns the length it needed, which the file names the program makes always keep within the
// buffer.
int format_upgrade_command(std::uint32_t address, std::uint16_t port, char* path);
void send_upgrade_command(std::uint32_t address, std::uint16_t port);
// Whether a device reporting that version must take the transition image first.
bool needs_transition(const char* device_version, const char* transition_version);
