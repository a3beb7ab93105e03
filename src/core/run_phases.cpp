// The times of an upgrade's phases, from any thread.
#include "core/run_phases.h"

#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace {

constexpr int PHASES = 3;

struct Phase {
    bool begun = false;
    bool ended = false;
    std::uint32_t begun_ms = 0;
    std::uint32_t total_ms = 0;
};

std::mutex phases_mutex;
Phase phases[PHASES];

Phase& of(RunPhase phase) { return phases[static_cast<int>(phase)]; }

}  // namespace

void run_phase_begin(RunPhase phase) {
    std::lock_guard<std::mutex> lock(phases_mutex);
    of(phase).begun = true;
    of(phase).begun_ms = clock_ms();
}

void run_phase_end(RunPhase phase) {
    std::lock_guard<std::mutex> lock(phases_mutex);
    Phase& p = of(phase);
    if (!p.begun) return;
    // Unsigned: a wrap of the millisecond clock in between still gives the span.
    p.total_ms += clock_ms() - p.begun_ms;
    p.begun = false;
    p.ended = true;
}

double run_phase_seconds(RunPhase phase) {
    std::lock_guard<std::mutex> lock(phases_mutex);
    const Phase& p = of(phase);
    return p.ended ? static_cast<double>(p.total_ms) / 1000.0 : -1.0;
}

void run_phases_clear() {
    std::lock_guard<std::mutex> lock(phases_mutex);
    for (Phase& p : phases) p = Phase{};
}
