// The long fixed texts written into the dialogs at run time, byte for byte, CR LF line breaks.
#pragma once

extern const char text_warning[];
extern const char text_address_intro[];
extern const char text_address_help_adapter[];
extern const char text_address_help_phone[];
extern const char text_password_notice[];
extern const char text_confirm_intro[];
extern const char text_confirm_note_format[];
extern const char text_success[];
extern const char text_waiting[];
