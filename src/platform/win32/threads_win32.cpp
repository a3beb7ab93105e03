// Threads on Windows. The result travels beside the thread, not as its exit code, because the
// exit code 259 is also what a running thread reports.
#include <windows.h>

#include <atomic>
#include <new>

#include "platform/threads.h"

struct ThreadState {
    HANDLE handle = nullptr;
    ThreadRoutine routine = nullptr;
    void* argument = nullptr;
    std::atomic<bool> finished{false};
    std::int32_t result = 0;
};

namespace {

DWORD WINAPI run(void* parameter) {
    auto* state = static_cast<ThreadState*>(parameter);
    state->result = state->routine(state->argument);
    state->finished.store(true, std::memory_order_release);
    return static_cast<DWORD>(state->result);
}

struct DetachedStart {
    ThreadRoutine routine;
    void* argument;
};

DWORD WINAPI run_detached(void* parameter) {
    DetachedStart start = *static_cast<DetachedStart*>(parameter);
    delete static_cast<DetachedStart*>(parameter);
    return static_cast<DWORD>(start.routine(start.argument));
}

}  // namespace

ThreadState* thread_start(ThreadRoutine routine, void* argument) {
    auto* state = new (std::nothrow) ThreadState;
    if (state == nullptr) return nullptr;
    state->routine = routine;
    state->argument = argument;
    state->handle = CreateThread(nullptr, 0, run, state, 0, nullptr);
    if (state->handle == nullptr) {
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
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

bool thread_start_detached(ThreadRoutine routine, void* argument) {
    auto* start = new (std::nothrow) DetachedStart{routine, argument};
    if (start == nullptr) return false;
    HANDLE handle = CreateThread(nullptr, 0, run_detached, start, 0, nullptr);
    if (handle == nullptr) {
        delete start;
        return false;
    }
    CloseHandle(handle);
    return true;
}
