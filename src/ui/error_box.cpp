// The error message box and window centring.
#include "ui/error_box.h"

#include "core/run_report.h"

int show_error_box(const char* message, const char* title) {
    run_outcome_failed(message);
    return message_box_task_modal(message, title != nullptr ? title : ERROR_BOX_TITLE);
}

void fail_upgrade(const char* message) {
    show_error_box(message);
    run_end();
}

int centred_position(int screen_extent, int window_extent) {
    // An arithmetic shift: a negative odd difference rounds towards minus infinity (-3 gives -2).
    return (screen_extent - window_extent) >> 1;
}

void center_window(WindowHandle window) {
    ScreenRect rect;
    if (!window_screen_rect(window, &rect)) return;
    int screen_width = 0;
    int screen_height = 0;
    screen_size(&screen_width, &screen_height);
    int x = centred_position(screen_width, rect.right - rect.left);
    int y = centred_position(screen_height, rect.bottom - rect.top);
    window_move_to_top(window, x, y);
}
