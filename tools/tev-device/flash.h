// The device's flash: keeping a received image and reading the version it carries.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr std::size_t IMAGE_HEADER_SIZE = 128;
constexpr std::size_t IMAGE_VERSION_OFFSET = 92;

// Writes the image beside `path` and renames it into place, so the file is always whole.
bool save_image(const std::string& path, const std::vector<std::uint8_t>& image);
// False when the image is too short to carry a header; otherwise the version text at offset 92,
// up to its NUL or the end of the header.
bool image_version(const std::vector<std::uint8_t>& image, std::string* version);
