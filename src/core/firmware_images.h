// The firmware images the program carries in its own resources, and what their headers tell.
#pragma once
#include <cstdint>

constexpr const char* FIRMWARE_RESOURCE_TYPE = "TEV_FIRMWARE";
constexpr int RESOURCE_TARGET_IMAGE = 112;
constexpr int RESOURCE_TRANSITION_IMAGE = 319;
constexpr int IMAGE_HEADER_SIZE = 128;
constexpr int IMAGE_VERSION_OFFSET = 92;
// Block numbers travel in 16 bits: 65,535 blocks of 512 bytes, the last one shorter than 512.
constexpr std::uint32_t IMAGE_SIZE_LIMIT = 65535u * 512u;

struct FirmwareImage {
    const std::uint8_t* data;
    std::uint32_t size;
    std::uint8_t header[IMAGE_HEADER_SIZE];
};

struct ProductRow {
    const char* prefix;
    int compared_length;
    const char* label;
    int is_phone_model;
};
constexpr int PRODUCT_ROW_COUNT = 8;
extern const ProductRow product_table[PRODUCT_ROW_COUNT];
constexpr const char* DEFAULT_PRODUCT_LABEL = "QBT7";

// The version text at offset 92 of the header; at most 35 characters.
const char* image_version(const FirmwareImage& image);

// What makes bytes unfit to be sent as an image, checked alike for the images the program carries
// and for those given in files: too large for 16-bit block numbers, shorter than the header, or a
// version text that does not end inside the header (no device could be checked against it).
enum class ImageProblem { NONE, TOO_LARGE, SHORTER_THAN_HEADER, VERSION_NOT_ENDED };
ImageProblem firmware_image_problem(const std::uint8_t* data, std::uint64_t size);
// The problem as a phrase: "shorter than its 128-byte header", ...; "" for NONE.
const char* image_problem_text(ImageProblem problem);

// Fills target_image, and transition_image when stage is 0. Returns nullptr on success, or the
// message to show when an image is missing or has a problem.
const char* load_firmware_images();
// The product table's row for an image header, nullptr when none matches (the default label).
const ProductRow* product_row_for(const std::uint8_t* header);
// Sets product_label and is_phone_model from the target image's header.
void identify_product();
