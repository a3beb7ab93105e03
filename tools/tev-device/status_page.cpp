// Builds the status page. Cells follow each other without blanks: a reader takes the text after
// the label's cell and the tags that open the value cell.
#include "status_page.h"

#include <cctype>

namespace {

std::string escape_html(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

std::string wrap_value(const std::string& value, Markup markup) {
    std::string text = escape_html(value);
    switch (markup) {
    case Markup::PLAIN: return text;
    case Markup::BOLD: return "<b>" + text + "</b>";
    case Markup::FONT: return "<font color=\"#000080\">" + text + "</font>";
    case Markup::BOLD_FONT: return "<font face=\"Arial\" size=\"2\"><b>" + text + "</b></font>";
    }
    return text;
}

std::string row(const char* label, const std::string& value, Markup markup) {
    return std::string("<tr><td class=\"label\">") + label + "</td><td>" + wrap_value(value, markup) + "</td></tr>\r\n";
}

}  // namespace

std::string status_page_html(const DeviceOptions& o, const std::string& software_version) {
    std::string page = "<html><head><title>" + escape_html(o.product_name) +
                       " Status</title></head>\r\n<body><h2>Device Status</h2>\r\n<table border=\"0\">\r\n";
    page += row("Product Name:", o.product_name, o.markup);
    page += row("MAC Address:", o.mac_address, o.markup);
    page += row("Software Version:", software_version, o.markup);
    page += row("Hardware Version:", o.hardware_version, o.markup);
    page += row("Serial Number:", o.serial_number, o.markup);
    page += "</table>\r\n";
    if (o.page_padding > 0) page += "<!-- " + std::string(o.page_padding, '-') + " -->\r\n";
    page += "</body></html>\r\n";
    return page;
}

std::string change_case(const std::string& text, CaseChange change) {
    std::string out = text;
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (change == CaseChange::UPPER) c = static_cast<char>(std::toupper(u));
        else if (change == CaseChange::LOWER) c = static_cast<char>(std::tolower(u));
        else if (change == CaseChange::SWAP) c = static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
    }
    return out;
}
