// The events as JSON lines, written with nlohmann-json: every string, the device's included, is
// escaped by the library, and bytes that are not UTF-8 are replaced rather than passed on.
#include "main/event_stream.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include "app/upgrade_sequence.h"
#include "core/run_images.h"
#include "core/run_phases.h"
#include "core/trace.h"
#include "core/upgrade_state.h"

namespace {

// A phase's seconds, only when it happened to its end.
void add_phase(nlohmann::ordered_json* e, const char* name, RunPhase phase) {
    double seconds = run_phase_seconds(phase);
    if (seconds >= 0) (*e)[name] = seconds;
}

void add_image(nlohmann::ordered_json* e) {
    const RunImage* image = run_image_chosen();
    (*e)["image_product"] = image != nullptr ? image->product : "";
    (*e)["image_version"] = image != nullptr ? image_version(image->image) : "";
}

}  // namespace

std::int64_t event_clock_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

EventStream::EventStream(std::FILE* events, std::FILE* result_line, std::FILE* failure_line,
                         std::int64_t start_ms)
    : events_(events),
      result_line_(result_line),
      failure_line_(failure_line),
      start_ms_(start_ms) {}

EventStream::Json EventStream::begin(const char* name) const {
    Json e;
    e["event"] = name;
    e["ms"] = event_clock_ms() - start_ms_;
    return e;
}

void EventStream::write(const Json& e) {
    std::string line = e.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::lock_guard<std::mutex> lock(mutex_);
    if (events_ == nullptr) return;
    std::fputs(line.c_str(), events_);
    std::fputc('\n', events_);
    std::fflush(events_);
}

void EventStream::started(const char* program_version, const char* product,
                          const char* image_version) {
    Json e = begin("start");
    e["program_version"] = program_version;
    e["product"] = product;
    e["image_version"] = image_version;
    write(e);
}

void EventStream::status_read(const DeviceInfo& device) {
    Json e = begin("status");
    e["product_name"] = device.product_name;
    e["mac_address"] = device.mac_address;
    e["software_version"] = device.software_version;
    e["hardware_version"] = device.hardware_version;
    e["serial_number"] = device.serial_number;
    add_image(&e);
    write(e);
}

void EventStream::confirmed() { write(begin("confirmed")); }

void EventStream::listening(unsigned port) {
    Json e = begin("listening");
    e["port"] = port;
    write(e);
}

void EventStream::commanded(bool answered) {
    Json e = begin("command");
    e["answered"] = answered;
    write(e);
}

void EventStream::request_from(std::uint32_t address, unsigned port) {
    Json e = begin("request");
    e["address"] = dotted(address).text;
    e["port"] = port;
    write(e);
}

void EventStream::upload(std::uint32_t bytes, std::uint32_t total) {
    Json e = begin("upload");
    e["bytes"] = bytes;
    e["total"] = total;
    write(e);
}

void EventStream::uploaded() { write(begin("uploaded")); }

void EventStream::flash_wait(int seconds_left) {
    Json e = begin("flash-wait");
    e["seconds_left"] = seconds_left;
    write(e);
}

void EventStream::verify(int attempt) {
    Json e = begin("verify");
    e["attempt"] = attempt;
    write(e);
}

void EventStream::connecting(int attempt, int attempts) {
    Json e = begin("connect");
    e["attempt"] = attempt;
    e["attempts"] = attempts;
    write(e);
}

void EventStream::check(const DeviceInfo& device, RunResult found) {
    Json e = begin("check");
    e["device"] = upgrade_state.device_ip_text;
    e["product_name"] = device.product_name;
    e["mac_address"] = device.mac_address;
    e["serial_number"] = device.serial_number;
    e["hardware_version"] = device.hardware_version;
    e["software_version"] = device.software_version;
    e["needs_upgrade"] = found == RunResult::NEEDS_UPGRADE;
    e["other_model"] = found == RunResult::OTHER_MODEL;
    add_image(&e);
    write(e);
}

void EventStream::result(RunResult result, const char* text, const char* version_before,
                         const char* version_after) {
    // A device of another model is read well in a check, and not done in an upgrade.
    bool verified = result != RunResult::FAILED &&
                    (result != RunResult::OTHER_MODEL || upgrade_sequence_checks());
    Json e = begin("result");
    e["result"] = run_result_word(result);
    e["text"] = text;
    e["device"] = upgrade_state.device_ip_text;
    e["version_before"] = version_before;
    e["version_after"] = version_after;
    add_image(&e);
    add_phase(&e, "seconds_status", RunPhase::STATUS);
    add_phase(&e, "seconds_transfer", RunPhase::TRANSFER);
    add_phase(&e, "seconds_flash", RunPhase::FLASH);
    write(e);
    std::FILE* out = verified ? result_line_ : failure_line_;
    if (out == nullptr) return;
    std::string line = upgrade_state.device_ip_text[0] != 0
                           ? std::string(upgrade_state.device_ip_text) + ": "
                           : std::string();
    line += run_result_word(result);
    if (text[0] != 0) line += std::string(": ") + text;
    for (char& c : line) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}
