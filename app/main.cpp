#include <windows.h>

#include "run_application.h"
#include "win32_support.h"

// The command line is ignored: the program takes no arguments.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  quorvik::RestrictDllSearchToSystemFolder();
  return quorvik::RunApplication(instance, showCommand);
}
