// The run's events as JSON lines for programs that follow a run (--events), and the one result
// line of a quiet run (--quiet). Each object names its event in "event" and carries "ms", the
// milliseconds since the program started. The status, check and result events name the image
// chosen for the device ("image_product", "image_version"; empty before the choice and for a
// device of another model).
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "core/run_report.h"

class EventStream final : public RunEvents {
public:
    // events: where the JSON lines go (nullptr: none); result_line and failure_line: where a quiet
    // run's result line goes when the device was verified and when not (nullptr: nowhere). None
    // is closed here.
    EventStream(std::FILE* events, std::FILE* result_line, std::FILE* failure_line,
                std::int64_t start_ms);

    void started(const char* program_version, const char* product,
                 const char* image_version) override;
    void status_read(const DeviceInfo& device) override;
    void confirmed() override;
    void listening(unsigned port) override;
    void commanded(bool answered) override;
    void request_from(std::uint32_t address, unsigned port) override;
    void upload(std::uint32_t bytes, std::uint32_t total) override;
    void uploaded() override;
    void flash_wait(int seconds_left) override;
    void verify(int attempt) override;
    void connecting(int attempt, int attempts) override;
    void check(const DeviceInfo& device, RunResult found) override;
    void result(RunResult result, const char* text, const char* version_before,
                const char* version_after) override;

private:
    using Json = nlohmann::ordered_json;
    Json begin(const char* name) const;
    void write(const Json& e);

    std::mutex mutex_;
    std::FILE* events_;
    std::FILE* result_line_;
    std::FILE* failure_line_;
    std::int64_t start_ms_;
};

// A monotonic clock in milliseconds, the events' time base.
std::int64_t event_clock_ms();
