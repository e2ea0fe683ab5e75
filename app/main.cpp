// The program's entry: starts the runtime and runs the application.
#include <cstdio>

#include "platform/ui.h"

int main(int argc, char** argv) {
  ui::initRuntime(argc, argv);
  std::printf("The event folder is ready; the program has no window yet.\n");
  return 0;
}
