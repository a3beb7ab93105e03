// Threads on POSIX, through the standard library. The result travels beside the thread, so a
// routine that returns 259 is as finished as any other.
#include "platform/threads.h"

#include <atomic>
#include <new>
#include <system_error>
#include <thread>

struct ThreadState {
    std::thread thread;
    std::atomic<bool> finished{false};
    std::int32_t result = 0;
};

namespace {
void run(ThreadState* state, ThreadRoutine routine, void* argument) {
    state->result = routine(argument);
    state->finished.store(true, std::memory_order_release);
}
}  // namespace

ThreadState* thread_start(ThreadRoutine routine, void* argument) {
    auto* state = new (std::nothrow) ThreadState;
    if (state == nullptr) return nullptr;
    try {
        state->thread = std::thread(run, state, routine, argument);
    } catch (const std::system_error&) {
        delete state;
        return nullptr;
    }
    return state;
}

bool thread_finished(ThreadState* thread, std::int32_t* result) {
    if (!thread->finished.load(std::memory_order_acquire)) return false;
    *result = thread->result;
    return true;
}

void thread_release(ThreadState* thread) {
    if (thread->thread.joinable()) thread->thread.join();
    delete thread;
}

bool thread_start_detached(ThreadRoutine routine, void* argument) {
    try {
        std::thread(routine, argument).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}
