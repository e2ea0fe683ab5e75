// The program's entry: starts the runtime and runs the application.
#include "app/app.h"
#include "platform/ui/ui.h"

int main(int argc, char** argv) {
  ui::initRuntime(argc, argv);
  return app::RunProgram();
}
