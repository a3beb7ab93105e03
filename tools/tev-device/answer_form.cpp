// The answer's form on the wire, as the options ask for it.
#include "answer_form.h"

#include <cctype>
#include <cstdio>

namespace {

std::string hex(std::size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
}

// "Www-Authenticate", as Go's net/http writes a name: each word capitalised, the rest lower case.
std::string canonical_name(const std::string& name) {
    std::string out = name;
    bool word_start = true;
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        c = static_cast<char>(word_start ? std::toupper(u) : std::tolower(u));
        word_start = c == '-';
    }
    return out;
}

std::string lower_name(const std::string& name) {
    std::string out = name;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Each header line's name in the case asked for; the values as they are.
std::string recase_names(const std::string& headers, HeaderCase form) {
    if (form == HeaderCase::AS_WRITTEN) return headers;
    std::string out;
    std::size_t start = 0;
    while (start < headers.size()) {
        std::size_t end = headers.find("\r\n", start);
        end = end == std::string::npos ? headers.size() : end + 2;
        std::string line = headers.substr(start, end - start);
        std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            line = (form == HeaderCase::LOWER ? lower_name(name) : canonical_name(name)) + line.substr(colon);
        }
        out += line;
        start = end;
    }
    return out;
}

// A Basic challenge before the Digest one: on a line of its own, or first on the same line.
std::string with_basic_first(const std::string& headers, const DeviceOptions& o) {
    const std::string digest_line = "WWW-Authenticate: Digest ";
    std::size_t at = headers.find(digest_line);
    if (at == std::string::npos || o.basic_first == BasicFirst::NO) return headers;
    std::string basic = "Basic realm=\"" + o.realm + "\"";
    if (o.basic_first == BasicFirst::OWN_LINE) {
        return headers.substr(0, at) + "WWW-Authenticate: " + basic + "\r\n" + headers.substr(at);
    }
    return headers.substr(0, at) + "WWW-Authenticate: " + basic + ", Digest " + headers.substr(at + digest_line.size());
}

}  // namespace

std::string chunked_body(const std::string& body) {
    // The first label is cut after "Product", so only a reader that joins the chunks finds it.
    std::size_t label = body.find("Product Name:");
    std::size_t cut = label == std::string::npos ? body.size() / 2 : label + 7;
    std::string out;
    for (const std::string& part : {body.substr(0, cut), body.substr(cut)}) {
        if (part.empty()) continue;
        out += hex(part.size()) + ";piece=1\r\n" + part + "\r\n";
    }
    return out + "0\r\nX-Page-End: yes\r\n\r\n";  // a trailer field after the last chunk
}

std::string write_answer(const DeviceOptions& o, int status, const std::string& reason,
                         const std::string& headers, const std::string& body) {
    std::string framing;
    std::string payload = body;
    switch (o.keep_alive) {
    case KeepAlive::NO:
        framing = "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n";
        break;
    case KeepAlive::LENGTH: framing = "Content-Length: " + std::to_string(body.size()) + "\r\n"; break;
    case KeepAlive::CHUNKED:
        framing = "Transfer-Encoding: chunked\r\n";
        payload = chunked_body(body);
        break;
    case KeepAlive::NO_LENGTH: break;
    }
    std::string head = "Server: TEV-Web\r\n" + with_basic_first(headers, o) + "Content-Type: text/html\r\n" + framing;
    return std::string(o.http10 ? "HTTP/1.0 " : "HTTP/1.1 ") + std::to_string(status) + " " + reason + "\r\n" +
           recase_names(head, o.header_case) + "\r\n" + payload;
}
