// manual-page DATE: prints the manual page tev-upgrade(1) for the build to install.
#include <cstdio>

#include "app/manual_page.h"
#include "platform/posix/embedded_resources.h"

// The page needs no firmware image.
const EmbeddedResource* embedded_resources(int* count) {
    *count = 0;
    return nullptr;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: manual-page YYYY-MM-DD\n", stderr);
        return 2;
    }
    std::fputs(manual_page_text(argv[1]).c_str(), stdout);
    return 0;
}
