// Fuzz target: the value of a version text, as the transition decision computes it for the
// device's software version and the image's.
#include <cstring>
#include <string>

#include "app/upgrade_sequence.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<char[]> text = fuzz_text(data, size);
    std::int32_t value = version_value(text.get());
    fuzz_require(version_value(text.get()) == value, "the same text gives the same value");
    // Only three numbers are read: once the text is followed by three more, whatever comes
    // after them does not count.
    std::string padded = std::string(text.get()) + ".0.0.0";
    fuzz_require(version_value(padded.c_str()) == version_value((padded + "7.7").c_str()),
                 "nothing after the third number and its separator counts");
    return 0;
}
