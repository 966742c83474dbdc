#include <windows.h>

#include "dll_search_win32.h"
#include "run_application.h"

// The command line is ignored: the program takes no arguments.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  quorvik::RestrictDllSearchToSystemFolder();
  return quorvik::RunApplication(instance, showCommand);
}
