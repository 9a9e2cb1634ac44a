// GoogleTest's own hook for ports: its Notification needs std::mutex, which the Windows builds'
// thread model lacks; a flag stands in, waited on only by GoogleTest's own thread tests.
#pragma once

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {
struct Notification {
  std::atomic<bool> notified{false};  // and so not copyable, as GoogleTest's own
  void Notify() { notified.store(true, std::memory_order_release); }
  void WaitForNotification() {
    while (!notified.load(std::memory_order_acquire)) continue;
  }
};
}  // namespace testing::internal
