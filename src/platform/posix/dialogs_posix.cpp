// Windows and message boxes on Linux, shown in the console.
#include "platform/dialogs.h"

#include <cstdio>
#include <mutex>

namespace {
// One box at a time on the terminal, whichever thread raises it.
std::mutex console_mutex;
constexpr int CONSOLE_SCREEN_WIDTH = 640;
constexpr int CONSOLE_SCREEN_HEIGHT = 480;
}  // namespace

bool window_class_register(const char*, ModuleHandle, ClassWindowProc) { return true; }

void dialogs_init_common_controls() {}

int message_box_task_modal(const char* text, const char* title) {
    std::lock_guard<std::mutex> lock(console_mutex);
    std::printf("\n== %s ==\n%s\n[OK] (press Enter) ", title, text);
    std::fflush(stdout);
    int c;
    do {
        c = std::getchar();
    } while (c != '\n' && c != EOF);
    std::printf("\n");
    std::fflush(stdout);
    return MESSAGE_BOX_OK;
}

bool window_screen_rect(WindowHandle, ScreenRect*) { return false; }

void screen_size(int* width, int* height) {
    *width = CONSOLE_SCREEN_WIDTH;
    *height = CONSOLE_SCREEN_HEIGHT;
}

void window_move_to_top(WindowHandle, int, int) {}
