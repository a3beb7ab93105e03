// Finds the embedded firmware images and tells the product from the target image's header.
#include "core/firmware_images.h"

#include <cstring>

#include "core/upgrade_state.h"
#include "platform/resources.h"

const ProductRow product_table[PRODUCT_ROW_COUNT] = {
    {"tev4100", 7, "TEV-4100", 0},      {"tev4200", 7, "TEV-4000/4200", 0},
    {"tev4300", 7, "TEV-4300", 0},      {"velora", 6, "TEV-610", 1},
    {"tev4400", 7, "TEV-4400", 0},      {"tev4500", 7, "TEV-4500", 0},
    {"tev4900", 7, "TEV-4900", 0},      {"QBT7", 4, "QBT7", 0},
};

const char* image_version(const FirmwareImage& image) {
    return reinterpret_cast<const char*>(image.header + IMAGE_VERSION_OFFSET);
}

ImageProblem firmware_image_problem(const std::uint8_t* data, std::uint64_t size) {
    if (size >= IMAGE_SIZE_LIMIT) return ImageProblem::TOO_LARGE;
    if (size < IMAGE_HEADER_SIZE) return ImageProblem::SHORTER_THAN_HEADER;
    if (std::memchr(data + IMAGE_VERSION_OFFSET, 0, IMAGE_HEADER_SIZE - IMAGE_VERSION_OFFSET) ==
        nullptr) {
        return ImageProblem::VERSION_NOT_ENDED;
    }
    return ImageProblem::NONE;
}

const char* image_problem_text(ImageProblem problem) {
    switch (problem) {
        case ImageProblem::TOO_LARGE:
            return "too large to transfer: 33,553,920 bytes or more (65,535 blocks of 512 bytes)";
        case ImageProblem::SHORTER_THAN_HEADER: return "shorter than its 128-byte header";
        case ImageProblem::VERSION_NOT_ENDED:
            return "its version text does not end inside its 128-byte header";
        case ImageProblem::NONE: break;
    }
    return "";
}

namespace {

const char* load_image(int id, FirmwareImage* image) {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (!resource_find(FIRMWARE_RESOURCE_TYPE, id, &data, &size)) {
        return id == RESOURCE_TARGET_IMAGE ? "Upgrade Failed: Firmware image missing"
                                           : "Upgrade Failed: Transition firmware image missing";
    }
    switch (firmware_image_problem(data, size)) {
        case ImageProblem::TOO_LARGE: return "Upgrade Failed: Firmware image too large to transfer";
        case ImageProblem::SHORTER_THAN_HEADER:
            return "Upgrade Failed: Firmware image shorter than its header";
        case ImageProblem::VERSION_NOT_ENDED:
            return "Upgrade Failed: Firmware image version does not end inside its header";
        case ImageProblem::NONE: break;
    }
    image->data = data;
    image->size = size;
    std::memcpy(image->header, data, IMAGE_HEADER_SIZE);
    return nullptr;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool prefix_matches(const char* prefix, int length, const std::uint8_t* header) {
    for (int i = 0; i < length; ++i) {
        char wanted = prefix[i];
        char found = static_cast<char>(header[i]);
        if (wanted == 0 || found == 0) return false;
        if (ascii_lower(wanted) != ascii_lower(found)) return false;
    }
    return true;
}

void copy_label(const char* label) {
    std::strncpy(upgrade_state.product_label, label, PRODUCT_LABEL_SIZE - 1);
    upgrade_state.product_label[PRODUCT_LABEL_SIZE - 1] = 0;
}

}  // namespace

const char* load_firmware_images() {
    const char* failure = load_image(RESOURCE_TARGET_IMAGE, &upgrade_state.target_image);
    if (failure != nullptr) return failure;
    if (upgrade_state.stage.load() == STAGE_TRANSITION) {
        return load_image(RESOURCE_TRANSITION_IMAGE, &upgrade_state.transition_image);
    }
    upgrade_state.transition_image = FirmwareImage{};
    return nullptr;
}

const ProductRow* product_row_for(const std::uint8_t* header) {
    for (const ProductRow& row : product_table) {
        if (prefix_matches(row.prefix, row.compared_length, header)) return &row;
    }
    return nullptr;
}

void identify_product() {
    const ProductRow* row = product_row_for(upgrade_state.target_image.header);
    upgrade_state.is_phone_model = row != nullptr ? row->is_phone_model : 0;
    copy_label(row != nullptr ? row->label : DEFAULT_PRODUCT_LABEL);
}
