// Splits a received request into its request line and its Authorization header.
#include "http_request.h"

#include <strings.h>

#include <cctype>

namespace {

std::string trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool parse_request_line(const std::string& line, HttpRequest* request) {
    std::size_t first_space = line.find(' ');
    if (first_space == std::string::npos) return false;
    std::size_t second_space = line.find(' ', first_space + 1);
    if (second_space == std::string::npos) return false;
    request->method = line.substr(0, first_space);
    request->target = line.substr(first_space + 1, second_space - first_space - 1);
    request->version = line.substr(second_space + 1);
    return !request->method.empty() && !request->target.empty() && request->version.rfind("HTTP/", 0) == 0;
}

}  // namespace

bool parse_http_request(const std::string& text, HttpRequest* request) {
    std::size_t line_start = 0;
    bool first = true;
    while (line_start < text.size()) {
        std::size_t line_end = text.find('\n', line_start);
        if (line_end == std::string::npos) line_end = text.size();
        std::string line = text.substr(line_start, line_end - line_start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line_start = line_end + 1;
        if (first) {
            if (!parse_request_line(line, request)) return false;
            first = false;
            continue;
        }
        if (line.empty()) break;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (colon == 10 && strncasecmp(line.c_str(), "Connection", colon) == 0) {
            // Built by appending: GCC 12 warns falsely (-Wrestrict) about "," + a string.
            std::string options = ",";
            options += trim(line.substr(colon + 1));
            options += ",";
            for (char& c : options) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            request->asks_close = options.find(",close,") != std::string::npos ||
                                  options.find(", close,") != std::string::npos;
        }
        if (strncasecmp(line.c_str(), "Authorization", colon) == 0 && colon == 13) {
            request->has_authorization = true;
            request->authorization = trim(line.substr(colon + 1));
            request->authorization_line = line;
        }
    }
    return !first;
}
