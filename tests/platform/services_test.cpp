// tests/platform/services_test.cpp: threads, locks, waiting, memory, files and the
// environment, as both system layers must provide them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"

using namespace velorin;
using namespace velorin_test;

namespace {

struct Counter {
    Mutex* lock;
    int value;
};

void add_many(void* p) {
    Counter* c = static_cast<Counter*>(p);
    for (int i = 0; i < 500; ++i) {
        mutex_lock(c->lock);
        c->value = c->value + 1;
        mutex_unlock(c->lock);
    }
}

struct Signal {
    Event* start;
    Event* done;
};

// Waits for its start event, then signals its done event: a hand-over between threads.
void answer(void* p) {
    Signal* s = static_cast<Signal*>(p);
    event_wait(s->start);
    event_set(s->done);
}

std::wstring wide(const std::string& s) { return widen_text(s.c_str()); }

}  // namespace

TEST(PlatformThreads, WorkersUnderOneMutexLoseNoIncrement) {
    Counter c{mutex_create(), 0};
    ASSERT_NE(c.lock, nullptr);
    Thread* t[8];
    for (Thread*& x : t) {
        x = thread_start(add_many, &c);
        ASSERT_NE(x, nullptr);
    }
    for (Thread* x : t) thread_join(x);
    EXPECT_EQ(c.value, 8 * 500);
    mutex_close(c.lock);
    // The count the system gives other programs too.
#ifdef _WIN32
    const char* n = std::getenv("NUMBER_OF_PROCESSORS");
    if (n) {
        EXPECT_EQ(processor_count(), std::atoi(n));
    }
#else
    EXPECT_EQ(processor_count(),
              std::stoi(velorin_test::command_output("getconf _NPROCESSORS_ONLN")));
#endif
}

TEST(PlatformEvents, WaitAnyWakesForTheEventAnotherThreadSets) {
    Event* idle[3] = {event_create(false), event_create(false), event_create(false)};
    Signal s{event_create(false), idle[2]};
    Thread* t = thread_start(answer, &s);
    ASSERT_NE(t, nullptr);
    event_set(s.start);
    EXPECT_EQ(wait_any(idle, 3), 2);
    // Manual reset: the event stays signalled until reset.
    EXPECT_EQ(wait_any(idle, 3), 2);
    EXPECT_TRUE(event_wait(idle[2]));
    thread_join(t);
    Event* with_null[2] = {idle[0], nullptr};
    EXPECT_EQ(wait_any(with_null, 2), -1);
    EXPECT_EQ(wait_any(idle, 0), -1);
    for (Event* e : idle) event_close(e);
    event_close(s.start);
    event_close(nullptr);
}

TEST(PlatformFiles, RenameReplacesAnExistingTarget) {
    TempDir dir;
    write_bytes(dir.file("new.tmp"), {1, 2, 3});
    write_bytes(dir.file("list.frq"), {9, 9});
    EXPECT_TRUE(file_rename(dir.wfile("new.tmp").c_str(), dir.wfile("list.frq").c_str()));
    EXPECT_EQ(read_bytes(dir.file("list.frq")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(file_exists(dir.file("new.tmp")));
    EXPECT_FALSE(file_rename(dir.wfile("new.tmp").c_str(), dir.wfile("other").c_str()));
}

TEST(PlatformFiles, NonAsciiNameOpensReportsStatusAndRemoves) {
    TempDir dir;
    const std::wstring path = wide(dir.path) + L"/\u00e4 voice \u3042.wav";
    FILE* f = file_open(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fputs("RIFF", f);
    std::fclose(f);
    FileStatus st;
    ASSERT_TRUE(file_status(path.c_str(), &st));
    EXPECT_TRUE(st.exists);
    EXPECT_TRUE(st.owner_write);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LT(std::llabs(st.mtime - now), 86400) << "modification time in seconds since the epoch";
    EXPECT_TRUE(file_remove(path.c_str()));
    EXPECT_FALSE(file_status(path.c_str(), &st));
    EXPECT_FALSE(st.exists);
    EXPECT_FALSE(file_remove(path.c_str()));
}

TEST(PlatformEnvironment, ReadsAVariableAndTellsAMissingOne) {
    setenv("VELORIN_SERVICES_TEST", "C:\\dec oder\\flac.exe", 1);
    std::wstring v;
    EXPECT_TRUE(env_get(L"VELORIN_SERVICES_TEST", &v));
    EXPECT_EQ(v, L"C:\\dec oder\\flac.exe");
    unsetenv("VELORIN_SERVICES_TEST");
    EXPECT_FALSE(env_get(L"VELORIN_SERVICES_TEST", &v));
    EXPECT_GT(perf_frequency(), 0);
    const int64_t a = perf_counter();
    EXPECT_GE(perf_counter(), a);
#ifndef _WIN32
    // A shell started from here names this process as its parent.
    EXPECT_EQ(std::to_string(process_id()) + "\n", velorin_test::command_output("echo $PPID"));
#endif
}

// Mapping pages in bulk changes nothing they hold, wherever the range starts
// and ends within its pages; only systems without the call say no.
TEST(PlatformMemory, PrefaultKeepsWhatThePagesHold) {
    struct Case {
        int64_t size, from, count;  // bytes of the buffer, the range mapped
    };
    const Case cases[] = {
        {1, 0, 1}, {4096, 0, 4096}, {10000, 1, 9999}, {10000, 4095, 2}, {1 << 20, 12345, 600000},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> buf(static_cast<size_t>(c.size));
        for (size_t i = 0; i < buf.size(); i += 3) buf[i] = static_cast<unsigned char>(i * 7 + 1);
        const std::vector<unsigned char> before = buf;
        const bool mapped = memory_prefault(buf.data() + c.from, c.count);
#ifdef __linux__
        // Kernels before 5.14 and user-mode emulators refuse the call; the
        // walk then maps the pages itself, so only the contents matter here.
        (void)mapped;
#else
        EXPECT_FALSE(mapped) << c.size;
#endif
        EXPECT_EQ(buf, before) << c.size;
    }
    EXPECT_FALSE(memory_prefault(nullptr, 100));
}

// The C runtime's record of the processor says what the processor itself does.
TEST(PlatformCpu, AvxAsTheProcessorReportsIt) {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    EXPECT_EQ(cpu_has_avx(), static_cast<bool>(__builtin_cpu_supports("avx")));
#else
    EXPECT_FALSE(cpu_has_avx());
#endif
}
