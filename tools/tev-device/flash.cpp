// Image file and header version of the simulated flash.
#include "flash.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device_log.h"

bool save_image(const std::string& path, const std::vector<std::uint8_t>& image) {
    std::string part = path + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    bool ok = file != nullptr;
    if (ok && !image.empty()) ok = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (file != nullptr && std::fclose(file) != 0) ok = false;
    if (ok) ok = std::rename(part.c_str(), path.c_str()) == 0;
    if (!ok) log_event("flash: cannot write %s: %s", path.c_str(), std::strerror(errno));
    return ok;
}

bool image_version(const std::vector<std::uint8_t>& image, std::string* version) {
    if (image.size() < IMAGE_HEADER_SIZE) return false;
    version->clear();
    for (std::size_t i = IMAGE_VERSION_OFFSET; i < IMAGE_HEADER_SIZE && image[i] != 0; ++i) {
        version->push_back(static_cast<char>(image[i]));
    }
    return true;
}
