// The Linux program's entry: the same upgrade as on Windows, shown in the console.
#include "app/start_up.h"

int main() { return upgrade_main(nullptr); }
