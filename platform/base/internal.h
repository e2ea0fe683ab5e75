// Shared inside platform/ only.
#pragma once

#include <atomic>
#include <functional>

namespace ui::detail {

// True while dialogs are answered by script (tests): the fatal box is then
// recorded, not shown.
extern std::atomic<bool> gScripting;
// Runtime clean-up run by the orderly end after the program's callbacks
// (closing stores, stopping music), in registration order.
void atRuntimeCleanup(std::function<void()> fn);
// Quits every running loop (the intercepted program end).
extern std::function<void()> gQuitAllLoops;

}  // namespace ui::detail
