// tests/support/win_gtest_notification.h: GoogleTest's Notification for the win32 thread
// model of mingw-w64.
//
// GoogleTest's own Notification needs std::mutex and std::condition_variable, which that
// thread model lacks. It serves only GoogleTest's internal thread helpers (our tests never
// start threads through them), so a spinning flag is enough. Force-included into the
// GoogleTest build and its users on Windows (tests/CMakeLists.txt).
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
   public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

   private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
