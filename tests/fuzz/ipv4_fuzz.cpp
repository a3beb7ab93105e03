// Fuzz target: the address typed into the address dialog.
#include <cstdio>
#include <cstring>

#include "fuzz_support.h"
#include "ui/ipv4_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<char[]> text = fuzz_text(data, size);
    std::uint32_t address = 0xDEADBEEFu;
    Ipv4ParseResult result = parse_ipv4_text(text.get(), &address);
    fuzz_require(result >= IPV4_OK && result <= IPV4_BAD_CHARACTER, "a known result");
    if (result != IPV4_OK) {
        fuzz_require(address == 0, "a refused text leaves the address 0");
        return 0;
    }
    std::size_t length = std::strlen(text.get());
    fuzz_require(length >= 7 && length <= 15, "an accepted text has 7 to 15 characters");
    fuzz_require(std::strspn(text.get(), "0123456789.*") == length,
                 "an accepted text holds only digits, full stops and asterisks");
    // The address written back in dotted form reads as the same address.
    char dotted[16];
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF,
                  address >> 8 & 0xFF, address & 0xFF);
    if (std::strlen(dotted) >= 7) {
        std::uint32_t again = 0;
        fuzz_require(parse_ipv4_text(dotted, &again) == IPV4_OK && again == address,
                     "the dotted form of an accepted address reads back the same");
    }
    return 0;
}
