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
#include "firmware_headers.h"
#include "test_resources.h"

namespace {

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

}  // namespace
