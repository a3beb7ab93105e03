// The embedded images as start-up finds them, and the product their header names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "core/firmware_images.h"
#include "core/run_images.h"
#include "core/upgrade_state.h"
#include "test_resources.h"

namespace {

std::vector<std::uint8_t> header_image(const std::string& id, const std::string& version,
                                       std::size_t size = 4096) {
    // The header is written whole, then as much of it as the image holds.
    std::uint8_t header[IMAGE_HEADER_SIZE] = {};
    std::memcpy(header, id.data(), id.size());
    std::memcpy(header + IMAGE_VERSION_OFFSET, version.data(), version.size());
    std::vector<std::uint8_t> image(size, 0xA5);
    std::memcpy(image.data(), header, std::min(size, sizeof header));
    return image;
}

EmbeddedResource resource(int id, const std::vector<std::uint8_t>& image) {
    return {FIRMWARE_RESOURCE_TYPE, id, image.data(), static_cast<std::uint32_t>(image.size())};
}

class FirmwareImages : public ::testing::Test {
  protected:
    void SetUp() override {
        upgrade_state.stage = STAGE_TARGET;
        upgrade_state.target_image = FirmwareImage{};
        upgrade_state.transition_image = FirmwareImage{};
        std::strcpy(upgrade_state.product_label, "stale");
        upgrade_state.is_phone_model = 7;
    }
    void TearDown() override {
        upgrade_state.stage = STAGE_TARGET;
        set_test_resources({});
    }

    std::string identify(const std::string& id) {
        auto image = header_image(id, "1.0");
        set_test_resources({resource(RESOURCE_TARGET_IMAGE, image)});
        EXPECT_EQ(load_firmware_images(), nullptr);
        identify_product();
        return upgrade_state.product_label;
    }
};

TEST_F(FirmwareImages, ProductIsNamedByHeaderPrefixWhateverItsCase) {
    EXPECT_EQ(identify("tev4100"), "TEV-4100");
    EXPECT_EQ(identify("TEV4100xyz"), "TEV-4100");
    EXPECT_EQ(identify("TeV4200"), "TEV-4000/4200");
    EXPECT_EQ(identify("tev4300"), "TEV-4300");
    EXPECT_EQ(identify("tev4400-fw"), "TEV-4400");
    EXPECT_EQ(identify("Tev4500"), "TEV-4500");
    EXPECT_EQ(identify("tev4900"), "TEV-4900");
    EXPECT_EQ(upgrade_state.is_phone_model, 0);
}

TEST_F(FirmwareImages, OnlyTheHandsetRowMarksThePhoneModel) {
    EXPECT_EQ(identify("VELORA-610"), "TEV-610");
    EXPECT_EQ(upgrade_state.is_phone_model, 1);
    EXPECT_EQ(identify("tev4400"), "TEV-4400");
    EXPECT_EQ(upgrade_state.is_phone_model, 0);
    EXPECT_EQ(identify("velor"), "QBT7");
    EXPECT_EQ(upgrade_state.is_phone_model, 0);
}

TEST_F(FirmwareImages, UnknownOrShortHeadersFallBackToQbt7) {
    EXPECT_EQ(identify("qbt7abc"), "QBT7");
    EXPECT_EQ(identify("zzz"), "QBT7");
    EXPECT_EQ(identify(""), "QBT7");
    // A prefix cut short by the end of the identification text does not match.
    EXPECT_EQ(identify("tev440"), "QBT7");
}

// The product table as the product documents it, row by row: prefix, compared length, label,
// handset flag. The program's table must hold exactly these rows in this order.
struct DocumentedRow {
    const char* prefix;
    int compared_length;
    const char* label;
    int is_phone_model;
};
const DocumentedRow DOCUMENTED_PRODUCTS[] = {
    {"tev4100", 7, "TEV-4100", 0}, {"tev4200", 7, "TEV-4000/4200", 0},
    {"tev4300", 7, "TEV-4300", 0}, {"velora", 6, "TEV-610", 1},
    {"tev4400", 7, "TEV-4400", 0}, {"tev4500", 7, "TEV-4500", 0},
    {"tev4900", 7, "TEV-4900", 0}, {"QBT7", 4, "QBT7", 0},
};

TEST_F(FirmwareImages, TableHoldsTheDocumentedRowsInOrderAndEachNamesItsProduct) {
    ASSERT_EQ(PRODUCT_ROW_COUNT, 8);
    for (int row = 0; row < PRODUCT_ROW_COUNT; ++row) {
        const DocumentedRow& want = DOCUMENTED_PRODUCTS[row];
        SCOPED_TRACE(want.prefix);
        EXPECT_STREQ(product_table[row].prefix, want.prefix);
        EXPECT_EQ(product_table[row].compared_length, want.compared_length);
        EXPECT_STREQ(product_table[row].label, want.label);
        EXPECT_EQ(product_table[row].is_phone_model, want.is_phone_model);
        // A header that starts with the prefix, in capitals, is named by its row.
        std::string shouted = want.prefix;
        for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(identify(shouted + "-image"), want.label);
        EXPECT_EQ(upgrade_state.is_phone_model, want.is_phone_model);
    }
    EXPECT_STREQ(DEFAULT_PRODUCT_LABEL, "QBT7");
}

TEST_F(FirmwareImages, TargetImageKeepsSizeBytesAndHeaderCopy) {
    auto image = header_image("tev4400", "3.2.9(b)", 948814);
    set_test_resources({resource(RESOURCE_TARGET_IMAGE, image)});
    ASSERT_EQ(load_firmware_images(), nullptr);
    EXPECT_EQ(upgrade_state.target_image.data, image.data());
    EXPECT_EQ(upgrade_state.target_image.size, 948814u);
    EXPECT_EQ(0, std::memcmp(upgrade_state.target_image.header, image.data(), 127));
    EXPECT_STREQ(image_version(upgrade_state.target_image), "3.2.9(b)");
    EXPECT_EQ(upgrade_state.transition_image.data, nullptr);
}

// A version that does not end inside the header could never be compared with the device's: the
// image is refused at start-up, before any device is flashed with it. So is an image shorter than
// its header.
TEST_F(FirmwareImages, VersionOf35CharactersIsKeptWholeAndALongerOneIsRefused) {
    std::string longest(35, '7');
    auto image = header_image("tev4400", longest);
    set_test_resources({resource(RESOURCE_TARGET_IMAGE, image)});
    ASSERT_EQ(load_firmware_images(), nullptr);
    EXPECT_EQ(std::string(image_version(upgrade_state.target_image)), longest);

    std::string overlong(36, '8');  // fills the header to its last byte
    image = header_image("tev4400", overlong);
    set_test_resources({resource(RESOURCE_TARGET_IMAGE, image)});
    EXPECT_STREQ(load_firmware_images(),
                 "Upgrade Failed: Firmware image version does not end inside its header");

    image = header_image("tev4100", "1.0", 127);
    set_test_resources({resource(RESOURCE_TARGET_IMAGE, image)});
    EXPECT_STREQ(load_firmware_images(), "Upgrade Failed: Firmware image shorter than its header");
}

TEST_F(FirmwareImages, TransitionImageIsLoadedOnlyAtTheTransitionStage) {
    auto target = header_image("tev4400", "3.2.9(b)");
    auto transition = header_image("tev4400", "3.1.0");
    set_test_resources({resource(RESOURCE_TARGET_IMAGE, target),
                        resource(RESOURCE_TRANSITION_IMAGE, transition)});
    ASSERT_EQ(load_firmware_images(), nullptr);
    EXPECT_EQ(upgrade_state.transition_image.data, nullptr);
    EXPECT_EQ(upgrade_state.transition_image.size, 0u);

    upgrade_state.stage = STAGE_TRANSITION;
    ASSERT_EQ(load_firmware_images(), nullptr);
    EXPECT_EQ(upgrade_state.transition_image.data, transition.data());
    EXPECT_STREQ(image_version(upgrade_state.transition_image), "3.1.0");
}

TEST_F(FirmwareImages, MissingImagesAreReportedAsFailures) {
    set_test_resources({});
    const char* failure = load_firmware_images();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(std::string(failure).rfind("Upgrade Failed: ", 0), 0u);

    auto target = header_image("tev4400", "3.2.9(b)");
    set_test_resources({resource(RESOURCE_TARGET_IMAGE, target)});
    upgrade_state.stage = STAGE_TRANSITION;
    failure = load_firmware_images();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(std::string(failure).rfind("Upgrade Failed: ", 0), 0u);
}

TEST_F(FirmwareImages, ImageThatCannotTravelIn16BitBlocksIsRefused) {
    auto header = header_image("tev4400", "3.2.9(b)", 128);
    EmbeddedResource too_large = resource(RESOURCE_TARGET_IMAGE, header);
    too_large.size = 33553920;  // only the header is read, so the table may claim any size
    set_test_resources({too_large});
    const char* failure = load_firmware_images();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(std::string(failure).rfind("Upgrade Failed: ", 0), 0u);

    too_large.size = 33553919;
    set_test_resources({too_large});
    EXPECT_EQ(load_firmware_images(), nullptr);
}

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
