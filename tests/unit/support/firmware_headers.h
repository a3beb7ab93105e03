// A firmware image whose header names a product and a version, and the embedded resource that
// carries it, for the tests of the images start-up finds and those a run uses.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/firmware_images.h"
#include "test_resources.h"

inline std::vector<std::uint8_t> header_image(const std::string& id, const std::string& version,
                                              std::size_t size = 4096) {
    // The header is written whole, then as much of it as the image holds.
    std::uint8_t header[IMAGE_HEADER_SIZE] = {};
    std::memcpy(header, id.data(), id.size());
    std::memcpy(header + IMAGE_VERSION_OFFSET, version.data(), version.size());
    std::vector<std::uint8_t> image(size, 0xA5);
    std::memcpy(image.data(), header, std::min(size, sizeof header));
    return image;
}

inline EmbeddedResource resource(int id, const std::vector<std::uint8_t>& image) {
    return {FIRMWARE_RESOURCE_TYPE, id, image.data(), static_cast<std::uint32_t>(image.size())};
}
