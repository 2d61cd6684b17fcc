// frq/threads.h: the analysis runs its pieces of work one thread each.
#pragma once

#include "platform/platform.h"

namespace velorin {

constexpr int max_analysis_threads = 32;

// Runs proc on every task (count <= max_analysis_threads), one thread each,
// and waits for all of them. A task whose thread cannot start runs on the
// calling thread instead.
template <typename Task>
void run_on_threads(void (*proc)(void*), Task* tasks, int count) {
    Thread* threads[max_analysis_threads];
    for (int i = 0; i < count; ++i) threads[i] = thread_start(proc, &tasks[i]);
    for (int i = 0; i < count; ++i)
        if (!threads[i]) proc(&tasks[i]);
    for (int i = 0; i < count; ++i)
        if (threads[i]) thread_join(threads[i]);
}

}  // namespace velorin
