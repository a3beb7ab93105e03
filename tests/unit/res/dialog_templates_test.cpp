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

// The long texts as the product documents them: written out here, not read back from the program.
struct TextCase {
    const char* name;
    const char* text;
    std::size_t length;
    int lines;
    const char* documented;
};

TEST(DialogTexts, AreTheDocumentedTextsByteForByteWithCrLfBreaks) {
    const TextCase cases[] = {
        {"text_warning", text_warning, 509, 10,
         "WARNING: Forcing a firmware upgrade on your TEV\r\n"
         "without prior approval from your service provider or\r\n"
         "network administrator may cause interruption to your\r\n"
         "service.  If your TEV is managed by a service\r\n"
         "provider who retains administrative control of the\r\n"
         "device, please contact the service provider for\r\n"
         "authorization before proceeding.  In such cases, the\r\n"
         "most current, approved for service firmware is\r\n"
         "automatically provided by your service provider without\r\n"
         "any onus on the end user to upgrade manually."},
        {"text_address_intro", text_address_intro, 48, 2,
         "This program will upgrade your TEV\r\n"
         "firmware to:"},
        {"text_address_help_adapter", text_address_help_adapter, 243, 7,
         "To proceed, please provide the IP address\r\n"
         "of your TEV. To find out the IP address\r\n"
         "of your TEV, using a telephone handset,\r\n"
         "enter * * * *, option 110#, and write down\r\n"
         "the value. For example, 10.1.0.123\r\n"
         "\r\n"
         "Please enter IP address of your TEV:"},
        {"text_address_help_phone", text_address_help_phone, 256, 7,
         "To proceed, please provide the IP address\r\n"
         "of your TEV. To find out the IP address of\r\n"
         "your TEV, press the I button on the phone,\r\n"
         "select \"Network\" option, and check the\r\n"
         "value of \"Current IP\". For example, 10.1.0.13\r\n"
         "\r\n"
         "Please enter IP address of your TEV:"},
        {"text_password_notice", text_password_notice, 719, 19,
         "This TEV requires a password in order to be\r\n"
         "upgraded. If you do not have administrator's\r\n"
         "privileges for this unit, please contact your\r\n"
         "Service Provider or network administrator,\r\n"
         "before proceeding.\r\n"
         "\r\n"
         "You must provide the TEV administrator's\r\n"
         "password to upgrade. If you are the administrator\r\n"
         "and forgot the password, you may perform a\r\n"
         "factory reset by entering * * * *, option 48215#,\r\n"
         "and value 1 from a telephone connected to the\r\n"
         "unit to be upgraded.\r\n"
         "\r\n"
         "* * * * * * * * * * *  Warning  * * * * * * * * * * *\r\n"
         "All settings will revert to default values\r\n"
         "after factory reset!  You may not be able to\r\n"
         "reestablish service after completing this upgrade\r\n"
         "without first reentering service configuration\r\n"
         "information."},
        {"text_confirm_intro", text_confirm_intro, 152, 4,
         "The following information was extracted\r\n"
         "from your TEV. Please click \"Upgrade\"\r\n"
         "if you would like to proceed. If you would\r\n"
         "like to quit click \"Cancel\"."},
        {"text_confirm_note_format", text_confirm_note_format, 148, 7,
         "%s\r\n"
         "\r\n"
         "Note: Since your current firmware version\r\n"
         "is older than %s, this upgrade procedure\r\n"
         "requires additional steps and will be\r\n"
         "slightly longer.\r\n"},
        {"text_waiting", text_waiting, 572, 3,
         "Firmware upload will begin when the TEV is idle, where the TEV will request "
         "to download the firmware from this PC using TFTP at the first available UDP "
         "port starting at port number 69.\r\n"
         "\r\n"
         "If firmware download does not start, please check that you have done the "
         "following: a) Hangup properly all the phones attached to the TEV, b) Disable "
         "any firewall software (such as Internet Connection Firewall) on this PC, and "
         "c) Make sure that this PC and the TEV are on the same LAN subnet; it will not "
         "work for example if this PC is behind a router while the TEV is in front of "
         "it."},
        {"text_success", text_success, 69, 3,
         "Your TEV has been successfully\r\n"
         "upgraded to the version shown\r\n"
         "below."},
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
        EXPECT_EQ(text, c.documented);
    }
    EXPECT_NE(std::strstr(text_confirm_note_format, "\r\n\r\nNote: "), nullptr);
    EXPECT_EQ(std::string(text_confirm_note_format).substr(0, 2), "%s");
}

// --- The in-memory template Windows builds a dialog from ---

// "#" and the number, as a template names an ordinal; appended, since GCC 12 warns falsely
// (-Wrestrict) about "#" + a string.
std::string ordinal_text(int number) {
    std::string text = "#";
    text += std::to_string(number);
    return text;
}

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
            return ordinal_text(u16());
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
                control.caption ? control.caption : ordinal_text(control.icon);
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
