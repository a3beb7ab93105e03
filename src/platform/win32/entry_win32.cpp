// The Windows program's entry: hands the module instance to the upgrade.
#include <windows.h>

#include "app/start_up.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return upgrade_main(instance); }
