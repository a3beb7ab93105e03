// A template of the table laid out as the classic in-memory dialog template that Windows builds a
// dialog from (DLGTEMPLATE and its DLGITEMTEMPLATEs, UTF-16 strings, DWORD-aligned items).
#pragma once
#include <cstddef>
#include <cstdint>

#include "res/dialog_templates.h"

// Class ordinals of the predefined window classes, as a compiled template carries them.
constexpr std::uint16_t CLASS_ORDINAL_BUTTON = 0x0080;
constexpr std::uint16_t CLASS_ORDINAL_EDIT = 0x0081;
constexpr std::uint16_t CLASS_ORDINAL_STATIC = 0x0082;
constexpr std::uint16_t CLASS_ORDINAL_COMBOBOX = 0x0085;

// Comfortably more than the largest of the ten templates needs.
constexpr std::size_t DIALOG_TEMPLATE_BYTES_MAX = 2048;

// Writes the template into out (which must be DWORD-aligned). Returns the number of bytes
// written, or 0 when size is too small.
std::size_t build_dialog_template_bytes(const DialogTemplate& dialog, std::uint8_t* out,
                                        std::size_t size);
