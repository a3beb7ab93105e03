// The images a run may send and the rule that gives a device the image of its own model.
#include "core/run_images.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "platform/resources.h"

namespace {

RunImage carried;
bool carried_loaded = false;
std::deque<std::vector<std::uint8_t>> file_bytes;  // a deque: the images point into them
std::vector<RunImage> files;
const RunImage* chosen = nullptr;

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

using Words = std::vector<std::string>;

// Runs of letters, lowered, and runs of digits; any other character ends a run.
Words words_of(const char* text, std::size_t length) {
    Words words;
    std::string word;
    int kind = 0;  // of the run being read: 1 letters, 2 digits
    for (std::size_t i = 0; i < length && text[i] != 0; ++i) {
        char c = text[i];
        int now = is_letter(c) ? 1 : is_digit(c) ? 2 : 0;
        if (now != kind && !word.empty()) {
            words.push_back(word);
            word.clear();
        }
        kind = now;
        if (now == 1) word += static_cast<char>(c | 0x20);
        if (now == 2) word += c;
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// The models a label names: "TEV-4000/4200" gives the words of TEV-4000 and of TEV-4200.
std::vector<Words> models_of(const char* label) {
    std::vector<Words> models;
    Words letters;  // the first model's words before its number
    for (const char* part = label;; ++part) {
        std::size_t length = std::strcspn(part, "/");
        Words words = words_of(part, length);
        if (models.empty()) {
            for (const std::string& word : words) {
                if (is_digit(word[0])) break;
                letters.push_back(word);
            }
        } else if (!words.empty() && is_digit(words[0][0])) {
            words.insert(words.begin(), letters.begin(), letters.end());
        }
        if (!words.empty()) models.push_back(words);
        part += length;
        if (*part == 0) break;
    }
    return models;
}

bool holds_in_a_row(const Words& name, const Words& model) {
    if (model.empty() || model.size() > name.size()) return false;
    for (std::size_t at = 0; at + model.size() <= name.size(); ++at) {
        bool all = true;
        for (std::size_t i = 0; i < model.size() && all; ++i) all = name[at + i] == model[i];
        if (all) return true;
    }
    return false;
}

// Reads the file through: its first 128 bytes into header and its size, up to the size limit (the
// rest of a file too large is not read); with bytes, every byte read. False with *error when it
// cannot be opened or read (a folder opens on Linux, and only the read tells).
bool read_image_file(const char* path, std::uint8_t* header, std::uint64_t* size,
                     std::vector<std::uint8_t>* bytes, int* error) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *error = errno;
        return false;
    }
    std::uint8_t block[4096];
    std::size_t got = 0;
    *size = 0;
    while (*size < IMAGE_SIZE_LIMIT && (got = std::fread(block, 1, sizeof block, file)) > 0) {
        if (*size < IMAGE_HEADER_SIZE) {
            std::memcpy(header + *size, block,
                        std::min<std::uint64_t>(got, IMAGE_HEADER_SIZE - *size));
        }
        if (bytes != nullptr) bytes->insert(bytes->end(), block, block + got);
        *size += got;
    }
    bool failed = std::ferror(file) != 0;
    *error = errno;
    std::fclose(file);
    return !failed;
}

RunImage described(const FirmwareImage& image, const std::string& file) {
    const ProductRow* row = product_row_for(image.header);
    return RunImage{image, row != nullptr ? row->label : DEFAULT_PRODUCT_LABEL,
                    row != nullptr ? row->is_phone_model : 0, file};
}

// The product of the program's own image, from its resources when start-up has not loaded it;
// nullptr when it carries none.
const char* carried_product() {
    if (carried_loaded) return carried.product;
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (!resource_find(FIRMWARE_RESOURCE_TYPE, RESOURCE_TARGET_IMAGE, &data, &size) ||
        size < IMAGE_HEADER_SIZE) {
        return nullptr;
    }
    return run_image_of(data, size, "").product;
}

}  // namespace

bool product_name_matches(const char* product_name, const char* label) {
    Words name = words_of(product_name, std::strlen(product_name));
    for (const Words& model : models_of(label)) {
        if (holds_in_a_row(name, model)) return true;
    }
    return false;
}

RunImage run_image_of(const std::uint8_t* data, std::uint32_t size, const std::string& file) {
    FirmwareImage image{};
    image.data = data;
    image.size = size;
    std::memcpy(image.header, data, size < IMAGE_HEADER_SIZE ? size : IMAGE_HEADER_SIZE);
    return described(image, file);
}

void run_images_use_carried(const FirmwareImage& image) {
    carried = described(image, "");
    carried_loaded = true;
}

const RunImage* run_images_carried() { return carried_loaded ? &carried : nullptr; }

bool run_images_add(const std::string& file, const std::uint8_t* header, std::uint64_t size,
                    std::string* problem) {
    ImageProblem found = firmware_image_problem(header, size);
    if (found != ImageProblem::NONE) {
        *problem = image_problem_text(found);
        return false;
    }
    RunImage image = run_image_of(header, static_cast<std::uint32_t>(size), file);
    image.image.data = nullptr;  // read when a device gets it
    // One image a product: a device must never depend on which of two it would get.
    const char* own = carried_product();
    if (own != nullptr && std::strcmp(own, image.product) == 0) {
        *problem = std::string("its product ") + image.product +
                   " already has an image: this program's own";
        return false;
    }
    for (const RunImage& earlier : files) {
        if (std::strcmp(earlier.product, image.product) == 0) {
            *problem = std::string("its product ") + image.product + " already has an image: " +
                       earlier.file;
            return false;
        }
    }
    files.push_back(image);
    return true;
}

bool run_images_add_file(const char* path, std::string* problem) {
    std::uint8_t header[IMAGE_HEADER_SIZE] = {};
    std::uint64_t size = 0;
    int error = 0;
    if (!read_image_file(path, header, &size, nullptr, &error)) {
        *problem = std::string("can't read the image file ") + path + ": " + std::strerror(error);
        return false;
    }
    std::string why;
    if (run_images_add(path, header, size, &why)) return true;
    *problem = std::string("the image file ") + path + ": " + why;
    return false;
}

bool run_image_load(const RunImage* image, std::string* problem) {
    if (image->image.data != nullptr) return true;
    for (RunImage& kept : files) {
        if (&kept != image) continue;
        std::uint8_t header[IMAGE_HEADER_SIZE] = {};
        std::uint64_t size = 0;
        int error = 0;
        std::vector<std::uint8_t> bytes;
        bytes.reserve(kept.image.size);
        if (!read_image_file(kept.file.c_str(), header, &size, &bytes, &error)) {
            *problem = "can't read the image file " + kept.file + ": " + std::strerror(error);
            return false;
        }
        // What is sent must be what was checked, and what the version after the flash is
        // compared with.
        if (size != kept.image.size ||
            std::memcmp(header, kept.image.header, IMAGE_HEADER_SIZE) != 0) {
            *problem = "the image file " + kept.file + " changed since the run started";
            return false;
        }
        file_bytes.push_back(std::move(bytes));
        kept.image.data = file_bytes.back().data();
        return true;
    }
    *problem = "no such image";
    return false;
}

const std::vector<RunImage>& run_image_files() { return files; }

void run_images_clear() {
    carried = RunImage{};
    carried_loaded = false;
    files.clear();
    file_bytes.clear();
    chosen = nullptr;
}

const RunImage* run_image_for_product(const char* product_name) {
    if (carried_loaded && product_name_matches(product_name, carried.product)) return &carried;
    for (const RunImage& image : files) {
        if (product_name_matches(product_name, image.product)) return &image;
    }
    return nullptr;
}

std::string other_model_reason(const char* product_name) {
    std::string products;
    int count = 0;
    auto add = [&](const RunImage& image) {
        products += (count++ == 0 ? "" : ", ") + std::string(image.product);
    };
    if (carried_loaded) add(carried);
    for (const RunImage& image : files) add(image);
    std::string name = product_name[0] != 0 ? product_name : "no product name";
    return name + (count > 1 ? "; the images are for " : "; the image is for ") + products;
}

void run_image_choose(const RunImage* image) { chosen = image; }

const RunImage* run_image_chosen() { return chosen; }

std::string run_image_text(const RunImage& image) {
    return std::string(image.product) + " " + image_version(image.image);
}
