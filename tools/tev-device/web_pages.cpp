// Answers a request: 400 to nonsense, 401 until digest credentials pass, then the status page, the
// upgrade command's acknowledgement or 404. Every request and outcome goes to the log.
#include "web_pages.h"

#include <algorithm>

#include "answer_form.h"
#include "device_log.h"
#include "status_page.h"

namespace {

const char* reason_phrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    }
    return "Error";
}

// The text is written in answer_request, in the form the options ask for.
WebAnswer response(int status, const std::string& extra_headers, const std::string& body) {
    WebAnswer answer;
    answer.status = status;
    answer.headers = extra_headers;
    answer.body = body;
    return answer;
}

WebAnswer short_page(int status, const std::string& extra_headers = "") {
    std::string title = std::to_string(status) + " " + reason_phrase(status);
    return response(status, extra_headers,
                    "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>\r\n");
}

bool peer_allowed(const DeviceOptions& options, std::uint32_t address) {
    if (address >> 24 == 127) return true;
    return std::find(options.allowed_peers.begin(), options.allowed_peers.end(), address) != options.allowed_peers.end();
}

// False when the credentials pass or none are required; otherwise true, with the refusal to send.
bool refuse_unauthorised(DeviceState* device, const HttpRequest& request, WebAnswer* refusal) {
    if (!device->options.auth) return false;
    AuthVerdict verdict = digest_check(&device->digest, request, elapsed_ms());
    switch (verdict.outcome) {
    case AuthOutcome::ACCEPTED:
        log_event("auth: accepted, %s", verdict.reason.c_str());
        return false;
    case AuthOutcome::BAD_REQUEST:
        log_event("auth: bad request, %s", verdict.reason.c_str());
        *refusal = short_page(400);
        return true;
    case AuthOutcome::CHALLENGE:
        log_event("auth: challenge (%s), nonce \"%s\"", verdict.reason.c_str(), device->digest.nonce.c_str());
        break;
    case AuthOutcome::WRONG:
        log_event("auth: refused, %s; nonce \"%s\" repeated", verdict.reason.c_str(), device->digest.nonce.c_str());
        break;
    case AuthOutcome::STALE:
        log_event("auth: stale, %s; nonce \"%s\" offered", verdict.reason.c_str(), device->digest.nonce.c_str());
        break;
    }
    *refusal = short_page(401, digest_challenge_line(&device->digest, verdict.outcome == AuthOutcome::STALE));
    return true;
}

WebAnswer upgrade_answer(DeviceState* device, const std::string& target) {
    UpgradeOrder order;
    if (!parse_upgrade_command(target, &order)) {
        log_event("upgrade: malformed command \"%s\"", target.c_str());
        return short_page(400);
    }
    if (!peer_allowed(device->options, order.server_address)) {
        log_event("upgrade: TFTP server %s is not loopback nor allowed by --allow-peer; refused",
                  ipv4_text(order.server_address).c_str());
        return short_page(403);
    }
    log_event("upgrade: order to fetch \"%s\" from %s:%u", order.file_name.c_str(),
              ipv4_text(order.server_address).c_str(), order.server_port);
    WebAnswer answer = response(200, "",
                                "<html><head><title>Upgrade</title></head><body>Firmware upgrade started."
                                "</body></html>\r\n");
    answer.has_order = true;
    answer.order = order;
    return answer;
}

}  // namespace

WebAnswer answer_request(DeviceState* device, const HttpRequest* request) {
    if (request == nullptr) {
        log_event("http: malformed request");
        return short_page(400);
    }
    log_event("http: %s %s %s", request->method.c_str(), request->target.c_str(), request->version.c_str());
    if (request->has_authorization) log_event("http: %s", request->authorization_line.c_str());
    WebAnswer answer;
    if (request->method != "GET") {
        answer = short_page(405, "Allow: GET\r\n");
    } else if (refuse_unauthorised(device, *request, &answer)) {
        // `answer` holds the refusal
    } else if (request->target == "/admin/advanced") {
        answer = response(200, "", status_page_html(device->options, device->software_version));
    } else if (is_upgrade_command(request->target)) {
        answer = upgrade_answer(device, request->target);
    } else {
        answer = short_page(404);
    }
    log_event("http: answered %d", answer.status);
    answer.text = write_answer(device->options, answer.status, reason_phrase(answer.status), answer.headers, answer.body);
    return answer;
}
