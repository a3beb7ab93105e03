// The images of a run: a device's product name against an image's label, the image files given
// with the program's own, and the image each device gets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "core/firmware_images.h"
#include "core/run_images.h"
#include "core/upgrade_state.h"
#include "firmware_headers.h"
#include "test_resources.h"

namespace {

// A device's "Product Name" against an image's product: words of letters in any case and of
// digits, punctuation and spaces only between them, more words allowed, numbers whole.
TEST(ProductMatch, TheDevicesNameHoldsTheWordsOfOneOfTheLabelsModels) {
    struct Case {
        const char* name;
        const char* label;
        bool matches;
    } cases[] = {
        {"TEV-4400", "TEV-4400", true},        {"tev4400", "TEV-4400", true},
        {"TEV_4400 VoIP Adapter", "TEV-4400", true},
        {"VoIP adapter: TEV 4400", "TEV-4400", true},
        {"TEV-44001", "TEV-4400", false},      {"TEV-440", "TEV-4400", false},
        {"TEV-4500", "TEV-4400", false},       {"XTEV-4400", "TEV-4400", false},
        {"4400", "TEV-4400", false},           {"", "TEV-4400", false},
        // A label with two models.
        {"TEV-4000", "TEV-4000/4200", true},   {"tev4200 adapter", "TEV-4000/4200", true},
        {"TEV-4100", "TEV-4000/4200", false},  {"4200", "TEV-4000/4200", false},
        // The handset.
        {"TEV-610 Handset", "TEV-610", true},  {"TEV-6100", "TEV-610", false},
        {"TEV-610", "TEV-4400", false},        {"TEV-4400", "TEV-610", false},
        // The default label of a header the table does not know: only a name that holds it.
        {"qbt 7 box", "QBT7", true},           {"TEV-4400", "QBT7", false},
        {"QBT77", "QBT7", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(product_name_matches(c.name, c.label), c.matches) << c.name << " / " << c.label;
    }
}

class RunImages : public ::testing::Test {
protected:
    void SetUp() override {
        run_images_clear();
        set_test_resources({resource(RESOURCE_TARGET_IMAGE, carried_)});
    }
    void TearDown() override {
        run_images_clear();
        set_test_resources({});
    }
    // An image file of that size whose header is the bytes' (only the header is read here).
    static std::string added(const std::string& file, const std::vector<std::uint8_t>& bytes,
                             std::uint64_t size = 0) {
        std::string problem;
        bool taken = run_images_add(file, bytes.data(), size != 0 ? size : bytes.size(), &problem);
        return taken ? "" : problem;
    }
    void use_carried() {
        FirmwareImage own{carried_.data(), 4096, {}};
        std::memcpy(own.header, carried_.data(), IMAGE_HEADER_SIZE);
        run_images_use_carried(own);
    }
    std::vector<std::uint8_t> carried_ = header_image("tev4400", "3.2.9(b)");
};

// A file's image is checked as the program's own is, and no product gets two images, the
// program's own counted, whether start-up has loaded it yet or not.
TEST_F(RunImages, FilesAreRefusedForTheirBytesOrAProductThatHasAnImage) {
    auto handset = header_image("velora610", "1.5.0");
    struct Case {
        const char* file;
        std::vector<std::uint8_t> bytes;
        std::uint64_t size;
        const char* problem;
    } cases[] = {
        {"short.bin", header_image("velora610", "1.5.0", 127), 0, "shorter than its 128-byte header"},
        {"long-version.bin", header_image("velora610", std::string(36, '1')), 0,
         "its version text does not end inside its 128-byte header"},
        {"huge.bin", handset, 33553920, image_problem_text(ImageProblem::TOO_LARGE)},
        {"adapter.bin", header_image("TEV4400-b", "3.3.0"), 0,
         "its product TEV-4400 already has an image: this program's own"},
        {"handset.bin", handset, 33553919, ""},
        {"handset-2.bin", header_image("VELORA", "1.6.0"), 0,
         "its product TEV-610 already has an image: handset.bin"},
        {"unknown.bin", header_image("acme", "1.0"), 0, ""},
        {"unknown-2.bin", header_image("zz", "2.0"), 0,
         "its product QBT7 already has an image: unknown.bin"},
    };
    for (const Case& c : cases) EXPECT_EQ(added(c.file, c.bytes, c.size), c.problem) << c.file;
    ASSERT_EQ(run_image_files().size(), 2u);
    EXPECT_STREQ(run_image_files()[0].product, "TEV-610");
    EXPECT_EQ(run_image_files()[0].is_phone_model, 1);
    EXPECT_EQ(run_image_files()[0].image.size, 33553919u);

    // Once start-up loaded it, the program's own is what counts.
    run_images_clear();
    carried_ = handset;
    use_carried();
    EXPECT_EQ(added("adapter.bin", header_image("tev4400", "3.3.0")), "");
    EXPECT_EQ(added("handset.bin", handset), "its product TEV-610 already has an image: this program's own");
}

// A file is read through at the start, and read again only when a device gets its image: what is
// sent must be what was checked.
TEST_F(RunImages, AFilesBytesAreReadWhenADeviceGetsItsImage) {
    char folder[] = "/tmp/run-images-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/handset.bin";
    auto write = [&path](const std::vector<std::uint8_t>& bytes) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    };
    auto handset = header_image("velora610", "1.5.0", 9000);
    write(handset);
    std::string problem;
    ASSERT_TRUE(run_images_add_file(path.c_str(), &problem)) << problem;
    const RunImage* image = &run_image_files()[0];
    EXPECT_EQ(image->image.data, nullptr);
    ASSERT_TRUE(run_image_load(image, &problem)) << problem;
    ASSERT_NE(image->image.data, nullptr);
    EXPECT_EQ(0, std::memcmp(image->image.data, handset.data(), handset.size()));
    EXPECT_NE(version_text().find("\nImage from " + path + ": TEV-610, version 1.5.0 (9000 bytes)\n"),
              std::string::npos);

    // Changed, or gone, between the start and the device's turn: not sent.
    run_images_clear();
    ASSERT_TRUE(run_images_add_file(path.c_str(), &problem)) << problem;
    write(header_image("velora610", "1.6.0", 9000));
    EXPECT_FALSE(run_image_load(&run_image_files()[0], &problem));
    EXPECT_EQ(problem, "the image file " + path + " changed since the run started");
    std::remove(path.c_str());
    EXPECT_FALSE(run_image_load(&run_image_files()[0], &problem));
    EXPECT_EQ(problem, "can't read the image file " + path + ": No such file or directory");
    EXPECT_FALSE(run_images_add_file(folder, &problem));
    EXPECT_EQ(problem, std::string("can't read the image file ") + folder + ": Is a directory");
    rmdir(folder);
}

// The image each device gets: the first of its model, the program's own tried first.
TEST_F(RunImages, EachDeviceGetsTheImageOfItsModel) {
    use_carried();
    EXPECT_EQ(other_model_reason("TEV-610"), "TEV-610; the image is for TEV-4400");
    EXPECT_EQ(other_model_reason(""), "no product name; the image is for TEV-4400");
    ASSERT_EQ(added("handset.bin", header_image("velora610", "1.5.0")), "");
    ASSERT_EQ(added("gateway.bin", header_image("acme-gw", "7.0")), "");
    const std::pair<const char*, const char*> cases[] = {
        {"TEV-4400 VoIP Adapter", ""}, {"tev 610 handset", "handset.bin"},
        {"QBT7 gateway", "gateway.bin"}, {"TEV-4500", nullptr}, {"", nullptr}};
    for (const auto& [name, file] : cases) {
        const RunImage* image = run_image_for_product(name);
        EXPECT_EQ(image != nullptr ? image->file : "none", file != nullptr ? file : "none") << name;
    }
    EXPECT_EQ(run_image_for_product("TEV-4400"), run_images_carried());
    EXPECT_EQ(run_image_text(*run_image_for_product("TEV-610")), "TEV-610 1.5.0");
    EXPECT_EQ(other_model_reason("TEV-4500"),
              "TEV-4500; the images are for TEV-4400, TEV-610, QBT7");
}

}  // namespace
