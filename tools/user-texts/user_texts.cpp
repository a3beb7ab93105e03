// user-texts: prints a text written from the program's option table, for the build to install
// and ship: the manual page tev-upgrade(1), the bash completion, the Windows zip's README.txt.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/manual_page.h"
#include "app/shell_completion.h"
#include "app/windows_readme.h"
#include "platform/posix/embedded_resources.h"

// The texts need no firmware image.
const EmbeddedResource* embedded_resources(int* count) {
    *count = 0;
    return nullptr;
}

int main(int argc, char** argv) {
    std::string text;
    if (argc == 3 && std::strcmp(argv[1], "manual") == 0) {
        text = manual_page_text(argv[2]);
    } else if (argc == 2 && std::strcmp(argv[1], "completion") == 0) {
        text = bash_completion_text();
    } else if (argc == 2 && std::strcmp(argv[1], "windows-readme") == 0) {
        text = windows_readme_text();
    } else {
        std::fputs("usage: user-texts manual YYYY-MM-DD | completion | windows-readme\n", stderr);
        return 2;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return written && std::fflush(stdout) == 0 ? 0 : 1;
}
