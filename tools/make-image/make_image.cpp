// make-image: writes a synthetic firmware image for tests and demonstrations. The header carries
// an identification text at offset 0 and a version text at offset 92; the body is deterministic.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t HEADER_SIZE = 128;
constexpr std::size_t VERSION_OFFSET = 92;
constexpr std::size_t ID_MAX = VERSION_OFFSET - 1;
constexpr std::size_t VERSION_MAX = HEADER_SIZE - VERSION_OFFSET - 1;

struct Options {
    unsigned long long size = 948814;
    std::string id = "tev4400";
    std::string version = "3.2.9(b)";
    std::uint32_t seed = 1;
    const char* output = nullptr;
};

int usage() {
    std::fprintf(stderr,
                 "usage: make-image [--size BYTES] [--id TEXT] [--version TEXT] [--seed N] OUTPUT\n"
                 "  --size     image size in bytes (default 948814)\n"
                 "  --id       identification text at offset 0, at most %zu characters "
                 "(default tev4400)\n"
                 "  --version  version text at offset 92, at most %zu characters "
                 "(default 3.2.9(b))\n"
                 "  --seed     seed of the body bytes (default 1)\n",
                 ID_MAX, VERSION_MAX);
    return 2;
}

bool parse_number(const char* text, unsigned long long* value) {
    char* end = nullptr;
    *value = std::strtoull(text, &end, 10);
    return end != text && *end == 0 && text[0] != '-';
}

bool parse(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        unsigned long long number = 0;
        if (arg == "--size" && has_value) {
            if (!parse_number(argv[++i], &options->size)) return false;
        } else if (arg == "--id" && has_value) {
            options->id = argv[++i];
        } else if (arg == "--version" && has_value) {
            options->version = argv[++i];
        } else if (arg == "--seed" && has_value) {
            if (!parse_number(argv[++i], &number)) return false;
            options->seed = static_cast<std::uint32_t>(number);
        } else if (arg[0] != '-' && options->output == nullptr) {
            options->output = argv[i];
        } else {
            return false;
        }
    }
    return options->output != nullptr && options->id.size() <= ID_MAX &&
           options->version.size() <= VERSION_MAX;
}

std::vector<unsigned char> build_image(const Options& options) {
    std::vector<unsigned char> image(HEADER_SIZE > options.size ? HEADER_SIZE : options.size, 0);
    std::memcpy(image.data(), options.id.data(), options.id.size());
    std::memcpy(image.data() + VERSION_OFFSET, options.version.data(), options.version.size());
    std::uint32_t x = options.seed != 0 ? options.seed : 1;
    for (std::size_t i = HEADER_SIZE; i < image.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<unsigned char>(x >> 24);
    }
    image.resize(options.size);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, &options)) return usage();
    std::vector<unsigned char> image = build_image(options);
    std::FILE* file = std::fopen(options.output, "wb");
    if (file == nullptr) {
        std::perror(options.output);
        return 1;
    }
    bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(options.output);
        return 1;
    }
    return 0;
}
