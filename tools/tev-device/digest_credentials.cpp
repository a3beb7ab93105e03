// Reads the name=value list of a Digest Authorization header: quoted strings with backslash
// escapes, or bare tokens; names in any letter case; unknown directives skipped.
#include "digest_credentials.h"

#include <strings.h>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::optional<std::string>* field_for(DigestCredentials* c, const std::string& name) {
    struct Row {
        const char* name;
        std::optional<std::string> DigestCredentials::*field;
    };
    static const Row ROWS[] = {
        {"username", &DigestCredentials::username}, {"realm", &DigestCredentials::realm},
        {"nonce", &DigestCredentials::nonce},       {"uri", &DigestCredentials::uri},
        {"response", &DigestCredentials::response}, {"algorithm", &DigestCredentials::algorithm},
        {"cnonce", &DigestCredentials::cnonce},     {"opaque", &DigestCredentials::opaque},
        {"qop", &DigestCredentials::qop},           {"nc", &DigestCredentials::nc},
    };
    for (const Row& row : ROWS) {
        if (strcasecmp(row.name, name.c_str()) == 0) return &(c->*row.field);
    }
    return nullptr;
}

// Reads a quoted string starting at the opening quote; false when it never closes.
bool read_quoted(const std::string& text, std::size_t* at, std::string* value) {
    for (std::size_t i = *at + 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            value->push_back(text[++i]);
        } else if (text[i] == '"') {
            *at = i + 1;
            return true;
        } else {
            value->push_back(text[i]);
        }
    }
    return false;
}

std::string read_token(const std::string& text, std::size_t* at) {
    std::size_t start = *at;
    while (*at < text.size() && text[*at] != ',' && !is_blank(text[*at])) ++*at;
    return text.substr(start, *at - start);
}

void skip_blanks(const std::string& text, std::size_t* at) {
    while (*at < text.size() && is_blank(text[*at])) ++*at;
}

}  // namespace

std::string parse_digest_credentials(const std::string& value, DigestCredentials* credentials, bool* is_digest) {
    *is_digest = value.size() > 6 && strncasecmp(value.c_str(), "Digest", 6) == 0 && is_blank(value[6]);
    if (!*is_digest) return "not a Digest answer";
    std::size_t at = 7;
    std::optional<std::string>* last_bare = nullptr;  // the previous directive, when it had a bare value
    while (true) {
        skip_blanks(value, &at);
        if (at >= value.size()) return "";
        if (value[at] == ',') {
            ++at;
            continue;
        }
        std::size_t name_start = at;
        while (at < value.size() && value[at] != '=' && value[at] != ',' && !is_blank(value[at])) ++at;
        std::string name = value.substr(name_start, at - name_start);
        skip_blanks(value, &at);
        if (at >= value.size() || value[at] != '=') {
            // A bare word after a bare value continues that value: "qop=auth,auth-int" as some
            // clients write an unquoted list. The qop check then judges the whole list.
            if (last_bare == nullptr) return "directive without a value: " + name;
            **last_bare += "," + name;
            continue;
        }
        ++at;
        skip_blanks(value, &at);
        std::string directive_value;
        bool quoted = at < value.size() && value[at] == '"';
        if (quoted) {
            if (!read_quoted(value, &at, &directive_value)) return "unterminated quoted value of " + name;
        } else {
            directive_value = read_token(value, &at);
        }
        std::optional<std::string>* field = field_for(credentials, name);
        last_bare = nullptr;
        if (field == nullptr) continue;
        if (field->has_value()) return "directive given twice: " + name;
        *field = directive_value;
        if (!quoted) last_bare = field;
    }
}
