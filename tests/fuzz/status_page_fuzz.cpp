// Fuzz target: the five status page values read off a whole answer, and one value read after a
// label taken from the input itself.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "web/http_client.h"

namespace {

constexpr char UNTOUCHED[] = "untouched";

void require_value(const char* field, const char* label, const char* text) {
    fuzz_require(std::memchr(field, 0, DEVICE_TEXT_SIZE) != nullptr, "a value is NUL-terminated in its field");
    if (std::strstr(text, label) == nullptr) {
        fuzz_require(std::strcmp(field, UNTOUCHED) == 0, "a value without its label keeps what it held");
        return;
    }
    if (std::strcmp(field, UNTOUCHED) == 0) return;  // no '>' after the label
    fuzz_require(std::strlen(field) <= SCRAPE_VALUE_MAX, "a value is at most 127 characters");
    fuzz_require(std::strchr(field, '<') == nullptr, "a value ends at the next tag");
    fuzz_require(std::strstr(text, field) != nullptr, "a value is a piece of the answer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<char[]> text = fuzz_text(data, size);
    DeviceInfo info;
    for (char* field : {info.product_name, info.mac_address, info.software_version, info.hardware_version,
                        info.serial_number}) {
        std::strcpy(field, UNTOUCHED);
    }
    scrape_device_info(text.get(), &info);
    require_value(info.product_name, "Product Name:", text.get());
    require_value(info.mac_address, "MAC Address:", text.get());
    require_value(info.software_version, "Software Version:", text.get());
    require_value(info.hardware_version, "Hardware Version:", text.get());
    require_value(info.serial_number, "Serial Number:", text.get());

    // A label from the first line of the input, looked for in the rest, into a short field.
    const char* newline = static_cast<const char*>(std::memchr(text.get(), '\n', size));
    if (newline == nullptr || newline == text.get()) return 0;
    std::string label(text.get(), static_cast<std::size_t>(newline - text.get()));
    char value[9];
    std::memset(value, 'x', sizeof value);
    char* result = scrape_label_value(newline + 1, label.c_str(), value, 8);
    if (result == nullptr) {
        fuzz_require(value[0] == 'x', "a missing label leaves the field untouched");
    } else {
        fuzz_require(result == value && std::strlen(value) <= 8, "a value is cut to max_chars");
    }
    return 0;
}
