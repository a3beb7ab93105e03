// tev-device: a simulated TEV adapter or handset on a given IPv4 address. It serves its status
// page (with digest authentication when asked), takes the upgrade command, fetches the image by
// TFTP, "writes its flash" with its web server closed, and then reports the image's version.
#include <signal.h>
#include <time.h>

#include <cstdio>
#include <string>

#include "device_log.h"
#include "device_state.h"
#include "flash.h"
#include "http_server.h"
#include "status_page.h"
#include "tftp_client.h"
#include "web_pages.h"

namespace {

constexpr int POLL_STEP_MS = 200;

void sleep_ms(std::int64_t ms) {
    timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

std::string seconds_text(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld s", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
    return text;
}

// Whether the connection stays open after the answer. An answer without a length ends only at
// the close, so that form keeps it only for a client that did not ask for the close; the other
// forms, and the fault, keep it whatever the client asked.
bool keeps_connection(const DeviceOptions& o, const HttpRequest& request) {
    if (o.keep_alive == KeepAlive::NO) return false;
    if (o.keep_alive == KeepAlive::NO_LENGTH && !o.hold_forever && request.asks_close) {
        log_event("http: the client asked for the close");
        return false;
    }
    return true;
}

// One connection: read the request, answer, close (or hold). True when it ordered an upgrade.
bool serve_connection(DeviceState* device, HttpServer* server, int fd, const std::string& peer, UpgradeOrder* order) {
    log_detail("http: connection from %s", peer.c_str());
    std::string text;
    if (!http_read_request(fd, &text)) {
        log_event("http: no complete request from %s", peer.c_str());
        http_close_connection(fd);
        return false;
    }
    HttpRequest request;
    bool parsed = parse_http_request(text, &request);
    if (device->options.never_answer) {
        log_event("fault: %s %s from %s left unanswered", parsed ? request.method.c_str() : "request",
                  parsed ? request.target.c_str() : "(unreadable)", peer.c_str());
        http_hold_connection(server, fd, 0);
        return false;
    }
    WebAnswer answer = answer_request(device, parsed ? &request : nullptr);
    http_send_all(fd, answer.text);
    if (keeps_connection(device->options, request)) {
        http_hold_connection(server, fd, device->options.idle_timeout_ms);
    } else {
        http_close_connection(fd);
    }
    if (answer.has_order) *order = answer.order;
    return answer.has_order;
}

std::string version_to_report(const DeviceOptions& o, const std::string& image_version) {
    std::string version = o.report_version_set ? o.report_version : image_version;
    return change_case(version, o.report_version_case);
}

// The flash write: web server closed for the flash time while the TFTP port still answers a
// repeated final block; then the new version. False when the image was not flashed.
bool write_flash(DeviceState* device, HttpServer* server, TftpTransfer* transfer) {
    const DeviceOptions& o = device->options;
    save_image(o.image_file, transfer->image);
    std::string version;
    if (!image_version(transfer->image, &version)) {
        log_event("flash: image of %zu bytes has no header; not flashed, software version stays \"%s\"",
                  transfer->image.size(), device->software_version.c_str());
        tftp_linger(device, transfer, o.tftp_timeout_ms);
        return false;
    }
    log_event("flash: writing %zu bytes, image version \"%s\", web server closed for %s", transfer->image.size(),
              version.c_str(), seconds_text(o.flash_ms).c_str());
    http_stop_listening(server);
    tftp_linger(device, transfer, o.flash_ms);
    device->software_version = version_to_report(o, version);
    log_event("flash: done, software version now \"%s\"", device->software_version.c_str());
    return true;
}

void run_upgrade(DeviceState* device, HttpServer* server, const UpgradeOrder& order) {
    if (device->options.tftp_delay_ms > 0) {
        log_event("fault: read request only after %s", seconds_text(device->options.tftp_delay_ms).c_str());
        sleep_ms(device->options.tftp_delay_ms);
    }
    UpgradeOrder asked = order;
    if (!device->options.request_name.empty()) {
        log_event("fault: asking for \"%s\" instead of \"%s\"", device->options.request_name.c_str(),
                  order.file_name.c_str());
        asked.file_name = device->options.request_name;
    }
    TftpTransfer transfer;
    if (tftp_fetch(device, asked, &transfer)) {
        write_flash(device, server, &transfer);
    } else {
        log_event("upgrade: transfer failed, software version stays \"%s\"", device->software_version.c_str());
    }
    tftp_close(&transfer);
}

int run_device(DeviceState* device) {
    const DeviceOptions& o = device->options;
    HttpServer server;
    server.address = o.address;
    server.port = o.port;
    if (o.web_delay_ms > 0) {
        say("started; web server opens in %s", seconds_text(o.web_delay_ms).c_str());
        log_event("fault: web server opens only after %s", seconds_text(o.web_delay_ms).c_str());
        sleep_ms(o.web_delay_ms);
    }
    if (!http_listen(&server)) {
        std::fprintf(stderr, "tev-device: cannot listen on %s:%u (see %s)\n", ipv4_text(o.address).c_str(), o.port,
                     o.log_file.c_str());
        return 1;
    }
    say("ready on %s:%u", ipv4_text(o.address).c_str(), o.port);
    bool web_wanted = true;
    while (true) {
        if (web_wanted && server.listen_fd < 0 && !http_listen(&server)) sleep_ms(1000);
        std::string peer;
        int fd = http_wait_connection(&server, POLL_STEP_MS, &peer);
        if (fd < 0) continue;
        UpgradeOrder order;
        if (!serve_connection(device, &server, fd, peer, &order)) continue;
        run_upgrade(device, &server, order);
        if (o.exit_after_upgrade) {
            log_event("exit after the upgrade order");
            return 0;
        }
        if (o.never_return && server.listen_fd < 0) {
            log_event("fault: web server stays closed after the flash");
            web_wanted = false;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    DeviceState device;
    ParseResult parsed = parse_options(argc, argv, &device.options);
    if (parsed == ParseResult::HELP) {
        print_help();
        return 0;
    }
    if (parsed == ParseResult::BAD) return 2;
    signal(SIGPIPE, SIG_IGN);
    const DeviceOptions& o = device.options;
    if (!log_open(o.log_file.c_str(), !o.quiet, !o.brief_log)) {
        std::fprintf(stderr, "tev-device: cannot open log file %s\n", o.log_file.c_str());
        return 1;
    }
    std::string command_line;
    for (int i = 1; i < argc; ++i) command_line += std::string(i > 1 ? " " : "") + argv[i];
    log_event("started as %s %s: %s", o.handset ? "handset" : "adapter", o.product_name.c_str(), command_line.c_str());
    dice_seed(&device.dice, o.seed);
    digest_start(&device.digest, &device.options, elapsed_ms());
    device.software_version = o.software_version;
    return run_device(&device);
}
