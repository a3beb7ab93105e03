// Threads for the upgrader: start a thread, and ask whether it has finished and with what result.
#pragma once
#include <cstdint>

using ThreadRoutine = std::int32_t (*)(void* argument);

struct ThreadState;  // owned by the platform; valid until thread_release

// Starts routine(argument) on a new thread; nullptr when no thread could be started.
ThreadState* thread_start(ThreadRoutine routine, void* argument);
// True once the routine has returned; then *result holds what it returned (259 included).
bool thread_finished(ThreadState* thread, std::int32_t* result);
// Waits for a finished thread and frees its state.
void thread_release(ThreadState* thread);
// Starts a thread that nobody waits for; false when it could not be started.
bool thread_start_detached(ThreadRoutine routine, void* argument);
