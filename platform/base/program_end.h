// The two ends of the program, below every other library: the orderly end
// with its callbacks and the fatal run-time error.
#pragma once

#include "model/text.h"

namespace ui {

// End-of-program callbacks, run in registration order by endProgram only.
void atProgramEnd(void (*fn)());
// Orderly end: callbacks, runtime clean-up, process exit with code. Under the
// test hook (testing::interceptProgramEnd) it records the code, quits the
// loops and returns instead of exiting.
void endProgram(int code);
// Fatal run-time error: one message box "运行时出错!", then "错误代码：" and the
// code (when code != 0), then "错误信息：" and the text; exit code -1; no
// end-of-program callback runs.
[[noreturn]] void fatalError(int code, const model::Text& text);

namespace testing {
// endProgram then runs its callbacks, records the code and quits every loop
// instead of exiting the process (fatalError always exits: use death tests).
void interceptProgramEnd(bool on);
// The code of the last intercepted endProgram, or -1000 when none.
int interceptedEndCode();
}  // namespace testing

}  // namespace ui
