// Lays out a dialog of the table as the classic in-memory dialog template.
#include "res/dialog_template_bytes.h"

namespace {

struct Writer {
    std::uint8_t* out;
    std::size_t size;
    std::size_t used;
    bool overflow;
};

void put_byte(Writer& writer, std::uint8_t value) {
    if (writer.used >= writer.size) {
        writer.overflow = true;
        return;
    }
    writer.out[writer.used++] = value;
}

// The template is read in the machine's own order, which for Windows is little-endian.
void put_u16(Writer& writer, std::uint16_t value) {
    put_byte(writer, static_cast<std::uint8_t>(value & 0xFF));
    put_byte(writer, static_cast<std::uint8_t>(value >> 8));
}

void put_u32(Writer& writer, std::uint32_t value) {
    put_u16(writer, static_cast<std::uint16_t>(value & 0xFFFF));
    put_u16(writer, static_cast<std::uint16_t>(value >> 16));
}

// The templates' texts are plain ASCII, so each character widens to one UTF-16 unit.
void put_text(Writer& writer, const char* text) {
    for (const char* c = text; *c != 0; ++c) put_u16(writer, static_cast<unsigned char>(*c));
    put_u16(writer, 0);
}

void put_ordinal(Writer& writer, std::uint16_t ordinal) {
    put_u16(writer, 0xFFFF);
    put_u16(writer, ordinal);
}

void align_dword(Writer& writer) {
    while (writer.used % 4 != 0) put_byte(writer, 0);
}

void put_class(Writer& writer, ControlClass control_class) {
    switch (control_class) {
        case ControlClass::BUTTON: put_ordinal(writer, CLASS_ORDINAL_BUTTON); return;
        case ControlClass::EDIT: put_ordinal(writer, CLASS_ORDINAL_EDIT); return;
        case ControlClass::STATIC: put_ordinal(writer, CLASS_ORDINAL_STATIC); return;
        case ControlClass::COMBOBOX: put_ordinal(writer, CLASS_ORDINAL_COMBOBOX); return;
        case ControlClass::PROGRESS:
        case ControlClass::IP_ADDRESS: put_text(writer, control_class_name(control_class)); return;
    }
}

void put_control(Writer& writer, const ControlTemplate& control) {
    align_dword(writer);
    put_u32(writer, control.style);
    put_u32(writer, 0);  // extended style
    put_u16(writer, static_cast<std::uint16_t>(control.x));
    put_u16(writer, static_cast<std::uint16_t>(control.y));
    put_u16(writer, static_cast<std::uint16_t>(control.width));
    put_u16(writer, static_cast<std::uint16_t>(control.height));
    put_u16(writer, static_cast<std::uint16_t>(control.id));  // -1 becomes 65535
    put_class(writer, control.control_class);
    if (control.caption == nullptr) {
        put_ordinal(writer, static_cast<std::uint16_t>(control.icon));
    } else {
        put_text(writer, control.caption);
    }
    put_u16(writer, 0);  // no creation data
}

}  // namespace

std::size_t build_dialog_template_bytes(const DialogTemplate& dialog, std::uint8_t* out,
                                        std::size_t size) {
    Writer writer{out, size, 0, false};
    put_u32(writer, dialog.style);
    put_u32(writer, 0);  // extended style
    put_u16(writer, static_cast<std::uint16_t>(dialog.control_count));
    put_u16(writer, static_cast<std::uint16_t>(dialog.x));
    put_u16(writer, static_cast<std::uint16_t>(dialog.y));
    put_u16(writer, static_cast<std::uint16_t>(dialog.width));
    put_u16(writer, static_cast<std::uint16_t>(dialog.height));
    put_u16(writer, 0);  // no menu
    put_u16(writer, 0);  // the system's dialog class
    put_text(writer, dialog.title);
    put_u16(writer, DIALOG_FONT_POINTS);  // DS_SETFONT is in every template's style
    put_text(writer, DIALOG_FONT);
    for (int i = 0; i < dialog.control_count; ++i) put_control(writer, dialog.controls[i]);
    return writer.overflow ? 0 : writer.used;
}
