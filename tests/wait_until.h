// Waiting for a condition in a test: the runtime's own wait runs until the
// condition holds, giving up only after a generous deadline, so a busy
// machine makes a test slower but never makes it fail.
#pragma once

#include <chrono>
#include <functional>

#include "platform/ui/ui.h"

namespace testwait {

inline bool pumpUntil(const std::function<bool()>& cond, int deadlineMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return cond();
    ui::waitPumping(5);
  }
  return true;
}

}  // namespace testwait
