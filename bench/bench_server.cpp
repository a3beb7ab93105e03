// The upgrader's TFTP server under measurement: the real listener thread, session and wait, with
// the dialogs headless, serving an image read from a file. It reports the transfer time from the
// accepted read request to the last acknowledgement, and the CPU the whole process uses while the
// waiting dialog waits and while the upload dialog waits for the flash.
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/transfer_dialogs.h"
#include "console/console_output.h"
#include "core/firmware_images.h"
#include "core/trace.h"
#include "core/upgrade_state.h"
#include "platform/clock.h"
#include "platform/posix/embedded_resources.h"
#include "tftp/tftp_listener.h"

namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001;
constexpr std::uint32_t MAIN_SLEEP_MS = 60000;  // the idle main thread's step, as the program's
constexpr std::uint32_t SETTLE_MS = 500;     // lets the listener open its dialog before counting

struct Options {
    const char* image_path = nullptr;
    const char* file_name = nullptr;
    int idle_seconds = 0;        // 0: no idle measurement, the transfer may start at once
    bool through_wait = false;   // measure the wait after the transfer instead of ending there
};

std::vector<std::uint8_t> image_bytes;
EmbeddedResource image_resource;
Options options;

struct Sample {
    double wall;  // seconds, monotonic
    double cpu;   // seconds of CPU of every thread of the process
};

double seconds_of(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

Sample sample_now() { return {seconds_of(CLOCK_MONOTONIC), seconds_of(CLOCK_PROCESS_CPUTIME_ID)}; }

void report_cpu(const char* phase, const Sample& from, const Sample& to) {
    double wall = to.wall - from.wall;
    double cpu = to.cpu - from.cpu;
    std::printf("cpu %s: %.4f s over %.3f s = %.3f %% of one core\n", phase, cpu, wall,
                wall > 0 ? 100.0 * cpu / wall : 0.0);
    std::fflush(stdout);
}

Sample session_start;
Sample transfer_end;
bool wait_started = false;

// The trace points tell where the listener thread is; nothing else in the program is touched.
void on_trace(const char* format, va_list arguments) {
    if (std::strncmp(format, "++++size", 8) == 0) {
        session_start = sample_now();
    } else if (std::strcmp(format, "All blocks ack'd\n") == 0) {
        transfer_end = sample_now();
        std::printf("transfer %u bytes in %.6f s, cpu %.6f s\n", upgrade_state.target_image.size,
                    transfer_end.wall - session_start.wall, transfer_end.cpu - session_start.cpu);
        std::fflush(stdout);
        if (!options.through_wait) _exit(0);
        wait_started = true;  // the wait for the flash starts now
    } else if (std::strcmp(format, "Timeout for ack; upgrade failed\n") == 0) {
        std::printf("transfer failed\n");
        std::fflush(stdout);
        _exit(1);
    } else if (std::strncmp(format, "HTTP ", 5) == 0 && wait_started) {
        // The first status query after the wait: the wait is over.
        report_cpu("flash wait", transfer_end, sample_now());
        _exit(0);
    }
    (void)arguments;
}

bool read_image(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        image_bytes.insert(image_bytes.end(), chunk, chunk + got);
    std::fclose(file);
    image_resource = {FIRMWARE_RESOURCE_TYPE, RESOURCE_TARGET_IMAGE, image_bytes.data(),
                      static_cast<std::uint32_t>(image_bytes.size())};
    return true;
}

bool parse_options(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--image" && has_value) {
            options.image_path = argv[++i];
        } else if (arg == "--name" && has_value) {
            options.file_name = argv[++i];
        } else if (arg == "--idle-seconds" && has_value) {
            options.idle_seconds = std::atoi(argv[++i]);
        } else if (arg == "--through-wait") {
            options.through_wait = true;
        } else {
            return false;
        }
    }
    return options.image_path != nullptr && options.file_name != nullptr &&
           options.file_name[0] != 0 && std::strlen(options.file_name) < TFTP_FILE_NAME_SIZE;
}

}  // namespace

// The one resource: the image to serve, as the target.
const EmbeddedResource* embedded_resources(int* count) {
    *count = image_bytes.empty() ? 0 : 1;
    return &image_resource;
}

int main(int argc, char** argv) {
    if (!parse_options(argc, argv)) {
        std::fprintf(stderr,
                     "usage: tev-bench-server --image FILE --name /NAME [--idle-seconds N] "
                     "[--through-wait]\n");
        return 2;
    }
    if (!read_image(options.image_path)) {
        std::fprintf(stderr, "tev-bench-server: cannot read %s\n", options.image_path);
        return 2;
    }
    const char* failure = load_firmware_images();
    if (failure != nullptr) {
        std::fprintf(stderr, "tev-bench-server: %s\n", failure);
        return 2;
    }
    identify_product();
    console_output_use(nullptr);
    trace_set_sink(on_trace);
    std::snprintf(upgrade_state.tftp_file_name, TFTP_FILE_NAME_SIZE, "%s", options.file_name);
    std::snprintf(upgrade_state.device_ip_text, DEVICE_IP_TEXT_SIZE, "127.0.0.1");
    upgrade_state.local_ip = LOOPBACK;
    // The client asks from loopback, and the listener serves only the device's own address.
    upgrade_state.device_ip = LOOPBACK;
    std::uint32_t port = start_tftp_listener(LOOPBACK, transfer_dialogs());
    std::printf("listening on port %u\n", port);
    std::fflush(stdout);
    if (options.idle_seconds > 0) {
        clock_sleep_ms(SETTLE_MS);
        Sample from = sample_now();
        clock_sleep_ms(static_cast<std::uint32_t>(options.idle_seconds) * 1000u);
        report_cpu("waiting for the request", from, sample_now());
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) clock_sleep_ms(MAIN_SLEEP_MS);
}
