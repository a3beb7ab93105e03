// The dialog templates, texts and icons: the table against the layouts listed in
// dialog_layouts.txt, the long texts byte for byte, the in-memory form Windows builds the dialogs
// from, and the two icon files.
#include "res/dialog_templates.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "res/dialog_ids.h"
#include "res/dialog_template_bytes.h"
#include "res/dialog_texts.h"
#include "web/md5.h"

namespace {

// --- The table against the listed layouts ---

struct ListedControl {
    int id;
    std::string class_name;
    std::uint32_t style;
    int x, y, width, height;
    std::string caption;
};

struct ListedDialog {
    int id;
    int x, y, width, height;
    std::string title;
    std::vector<ListedControl> controls;
};

std::vector<ListedDialog> read_layouts() {
    std::ifstream file(TEV_TEST_DATA_DIR "/dialog_layouts.txt");
    std::vector<ListedDialog> dialogs;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "dialog") {
            ListedDialog dialog;
            words >> dialog.id >> dialog.x >> dialog.y >> dialog.width >> dialog.height;
            words.get();
            std::getline(words, dialog.title);
            dialogs.push_back(dialog);
        } else if (kind == "control") {
            ListedControl control;
            words >> control.id >> control.class_name >> std::hex >> control.style >> std::dec >>
                control.x >> control.y >> control.width >> control.height;
            words.get();
            std::getline(words, control.caption);
            dialogs.back().controls.push_back(control);
        }
    }
    return dialogs;
}

TEST(DialogTable, HoldsTheListedTenDialogsExactly) {
    std::vector<ListedDialog> listed = read_layouts();
    ASSERT_EQ(listed.size(), static_cast<std::size_t>(DIALOG_TEMPLATE_COUNT));
    for (const ListedDialog& want : listed) {
        SCOPED_TRACE("dialog " + std::to_string(want.id));
        const DialogTemplate* dialog = find_dialog_template(want.id);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->title, want.title);
        EXPECT_EQ(dialog->style, 0x80C800C0u);
        EXPECT_EQ(dialog->x, want.x);
        EXPECT_EQ(dialog->y, want.y);
        EXPECT_EQ(dialog->width, want.width);
        EXPECT_EQ(dialog->height, want.height);
        ASSERT_EQ(dialog->control_count, static_cast<int>(want.controls.size()));
        for (int i = 0; i < dialog->control_count; ++i) {
            SCOPED_TRACE("control " + std::to_string(i));
            const ControlTemplate& have = dialog->controls[i];
            const ListedControl& control = want.controls[static_cast<std::size_t>(i)];
            EXPECT_EQ(have.id, control.id);
            EXPECT_EQ(
                strcasecmp(control_class_name(have.control_class), control.class_name.c_str()), 0)
                << control_class_name(have.control_class);
            EXPECT_EQ(have.style, control.style);
            EXPECT_EQ(have.x, control.x);
            EXPECT_EQ(have.y, control.y);
            EXPECT_EQ(have.width, control.width);
            EXPECT_EQ(have.height, control.height);
            if (control.caption[0] == '#') {
                EXPECT_EQ(have.caption, nullptr);
                EXPECT_EQ(have.icon, std::stoi(control.caption.substr(1)));
            } else if (control.caption == "@web") {  // the maker's web address: any
                ASSERT_NE(have.caption, nullptr);
                EXPECT_NE(std::strchr(have.caption, '.'), nullptr);
            } else {
                ASSERT_NE(have.caption, nullptr);
                EXPECT_EQ(have.caption, control.caption);
            }
        }
    }
}

TEST(DialogTable, LooksUpDialogsAndControls) {
    EXPECT_EQ(find_dialog_template(102), nullptr);
    const DialogTemplate& warning = *find_dialog_template(DIALOG_WARNING);
    EXPECT_EQ(find_control_template(warning, CONTROL_WARNING_TEXT), &warning.controls[2]);
    EXPECT_EQ(find_control_template(warning, CONTROL_PROGRESS), nullptr);
}

// --- The long texts ---

std::string md5_of(const char* text) {
    Md5Context context;
    md5_init(&context);
    md5_update(&context, text, static_cast<std::uint32_t>(std::strlen(text)));
    std::uint8_t digest[MD5_DIGEST_SIZE];
    md5_final(digest, &context);
    char hex[MD5_HEX_SIZE];
    hex_digest(digest, hex);
    return hex;
}

struct TextCase {
    const char* name;
    const char* text;
    std::size_t length;
    int lines;
    const char* md5;
};

TEST(DialogTexts, AreByteForByteWithCrLfBreaks) {
    const TextCase cases[] = {
        {"text_warning", text_warning, 509, 10, "4ada68f83f6d59a447f205fb8296b7c1"},
        {"text_address_intro", text_address_intro, 48, 2, "9e467b9fd3f32f518b6803213a64cdf8"},
        {"text_address_help_adapter", text_address_help_adapter, 243, 7,
         "061b536274b83fd26e1c7bef74219fe6"},
        {"text_address_help_phone", text_address_help_phone, 256, 7,
         "264da1dddb727b606016a89a249dd126"},
        {"text_password_notice", text_password_notice, 719, 19, "126f79839fcf8c5e61715f00cd1b6462"},
        {"text_confirm_intro", text_confirm_intro, 152, 4, "94b7a7b586e8e6a8e7174886383c4fef"},
        {"text_confirm_note_format", text_confirm_note_format, 148, 7,
         "eef8445f53f3f08313de287403426f47"},
        {"text_waiting", text_waiting, 572, 3, "e336f245b2f27ba493e1235620e7ba8e"},
        {"text_success", text_success, 69, 3, "ed1f0a914d42509c3fb33c49e973638f"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        EXPECT_EQ(text.size(), c.length);
        int breaks = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
            }
            if (text[i] == '\r') {
                EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
                ++breaks;
            }
        }
        // Only the note ends in a line break; its last line is the empty one after it.
        EXPECT_EQ(breaks + 1, c.lines);
        EXPECT_EQ(md5_of(c.text), c.md5);
    }
    EXPECT_NE(std::strstr(text_confirm_note_format, "\r\n\r\nNote: "), nullptr);
    EXPECT_EQ(std::string(text_confirm_note_format).substr(0, 2), "%s");
}

// --- The in-memory template Windows builds a dialog from ---

struct Reader {
    const std::uint8_t* bytes;
    std::size_t size;
    std::size_t at = 0;

    std::uint16_t u16() {
        EXPECT_LE(at + 2, size);
        std::uint16_t value = static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return value;
    }
    std::uint32_t u32() {
        std::uint32_t low = u16();
        return low | static_cast<std::uint32_t>(u16()) << 16;
    }
    std::string text() {
        std::string out;
        for (std::uint16_t unit = u16(); unit != 0; unit = u16()) out += static_cast<char>(unit);
        return out;
    }
    // A class or caption: "#n" for an ordinal, else the text.
    std::string name_or_ordinal() {
        if (bytes[at] == 0xFF && bytes[at + 1] == 0xFF) {
            at += 2;
            return "#" + std::to_string(u16());
        }
        return text();
    }
};

std::string expected_class(ControlClass control_class) {
    switch (control_class) {
        case ControlClass::BUTTON: return "#128";
        case ControlClass::EDIT: return "#129";
        case ControlClass::STATIC: return "#130";
        case ControlClass::COMBOBOX: return "#133";
        default: return control_class_name(control_class);
    }
}

TEST(DialogTemplateBytes, CarryEveryFieldOfTheTable) {
    for (const DialogTemplate& dialog : dialog_templates) {
        SCOPED_TRACE("dialog " + std::to_string(dialog.id));
        alignas(4) std::uint8_t bytes[DIALOG_TEMPLATE_BYTES_MAX];
        std::size_t size = build_dialog_template_bytes(dialog, bytes, sizeof bytes);
        ASSERT_GT(size, 0u);
        Reader in{bytes, size};
        EXPECT_EQ(in.u32(), dialog.style);
        EXPECT_EQ(in.u32(), 0u);
        EXPECT_EQ(in.u16(), dialog.control_count);
        EXPECT_EQ(in.u16(), dialog.x);
        EXPECT_EQ(in.u16(), dialog.y);
        EXPECT_EQ(in.u16(), dialog.width);
        EXPECT_EQ(in.u16(), dialog.height);
        EXPECT_EQ(in.u16(), 0);  // menu
        EXPECT_EQ(in.u16(), 0);  // class
        EXPECT_EQ(in.text(), dialog.title);
        EXPECT_EQ(in.u16(), 8);
        EXPECT_EQ(in.text(), "MS Sans Serif");
        for (int i = 0; i < dialog.control_count; ++i) {
            const ControlTemplate& control = dialog.controls[i];
            SCOPED_TRACE("control " + std::to_string(i));
            while (in.at % 4 != 0) EXPECT_EQ(in.bytes[in.at++], 0);
            EXPECT_EQ(in.u32(), control.style);
            EXPECT_EQ(in.u32(), 0u);
            EXPECT_EQ(in.u16(), control.x);
            EXPECT_EQ(in.u16(), control.y);
            EXPECT_EQ(in.u16(), control.width);
            EXPECT_EQ(in.u16(), control.height);
            EXPECT_EQ(in.u16(), static_cast<std::uint16_t>(control.id));
            EXPECT_EQ(in.name_or_ordinal(), expected_class(control.control_class));
            std::string caption =
                control.caption ? control.caption : "#" + std::to_string(control.icon);
            EXPECT_EQ(in.name_or_ordinal(), caption);
            EXPECT_EQ(in.u16(), 0);  // creation data
        }
        EXPECT_EQ(in.at, size);
    }
}

TEST(DialogTemplateBytes, RefuseABufferTooSmall) {
    alignas(4) std::uint8_t bytes[64];
    EXPECT_EQ(
        build_dialog_template_bytes(*find_dialog_template(DIALOG_CONFIRM), bytes, sizeof bytes),
        0u);
}

// --- The icons ---

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Colour index of a pixel (rows stored bottom-up), or -1 where the mask makes it transparent.
int pixel(const std::vector<std::uint8_t>& icon, int x, int y) {
    const std::size_t image = 22;
    const std::size_t colours = image + 40 + 64;
    const std::size_t mask = colours + 512;
    int row = 31 - y;
    bool clear = icon[mask + static_cast<std::size_t>(row * 4 + x / 8)] & (0x80 >> (x % 8));
    if (clear) return -1;
    std::uint8_t pair = icon[colours + static_cast<std::size_t>(row * 16 + x / 2)];
    return x % 2 == 0 ? pair >> 4 : pair & 0x0F;
}

TEST(Icons, AreOne32By32SixteenColourImageWithAMaskEach) {
    constexpr int LIME = 10;
    constexpr int BLACK = 0;
    for (const char* name : {"adapter.ico", "telephone.ico"}) {
        SCOPED_TRACE(name);
        std::vector<std::uint8_t> icon =
            read_file(std::string(TEV_SOURCE_DIR "/src/res/icons/") + name);
        ASSERT_EQ(icon.size(), 6u + 16u + 744u);
        EXPECT_EQ(icon[2] | icon[3] << 8, 1);  // an icon
        EXPECT_EQ(icon[4] | icon[5] << 8, 1);  // one image
        EXPECT_EQ(icon[6], 32);
        EXPECT_EQ(icon[7], 32);
        EXPECT_EQ(icon[8], 16);                  // colours
        EXPECT_EQ(icon[12] | icon[13] << 8, 4);  // bits a pixel
        EXPECT_EQ(le32(icon, 14), 744u);
        EXPECT_EQ(le32(icon, 18), 22u);
        EXPECT_EQ(le32(icon, 22), 40u);  // BITMAPINFOHEADER
        EXPECT_EQ(le32(icon, 26), 32u);  // width
        EXPECT_EQ(le32(icon, 30), 64u);  // height: colours and mask
        EXPECT_EQ(icon[36] | icon[37] << 8, 4);
        int opaque = 0, lime = 0, black = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                int colour = pixel(icon, x, y);
                opaque += colour >= 0;
                lime += colour == LIME;
                black += colour == BLACK;
            }
        }
        EXPECT_GT(opaque, 200);  // a picture, with a transparent surround
        EXPECT_LT(opaque, 1000);
        EXPECT_GT(lime, 0);  // the green light, the green display
        if (std::string(name) == "telephone.ico") {
            EXPECT_GT(black, opaque / 4);  // a black telephone
        }
    }
}

}  // namespace
