// The device's answer to one HTTP request: authentication, the status page, the upgrade command.
#pragma once
#include <string>

#include "device_state.h"
#include "http_request.h"
#include "upgrade_command.h"

struct WebAnswer {
    int status = 0;
    std::string headers;  // the lines the page adds (a challenge, Allow), each ending in CR LF
    std::string body;
    std::string text;     // status line, headers and body as sent
    bool has_order = false;
    UpgradeOrder order;
};

// `request` is null when the received text was not a request at all.
WebAnswer answer_request(DeviceState* device, const HttpRequest* request);
