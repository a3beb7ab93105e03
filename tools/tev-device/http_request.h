// One HTTP request as the device's web server reads it: request line and the one header it uses.
#pragma once
#include <string>

struct HttpRequest {
    std::string method, target, version;
    bool has_authorization = false;
    bool asks_close = false;  // a Connection header with the "close" option
    std::string authorization;       // the header's value, without name and surrounding blanks
    std::string authorization_line;  // the whole header line as received, for the log
};

// Parses the text up to the empty line; false when the request line is malformed.
bool parse_http_request(const std::string& text, HttpRequest* request);
