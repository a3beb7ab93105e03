// An IPv4 address read from dotted text by the system's own reader (inet_pton), for the console's
// dialog model, which reads what was typed into an address field as the window's control would.
#pragma once
#include <cstdint>

// The address in host order; false unless the text is four numbers from 0 to 255 with full stops
// between them.
bool ipv4_text_read(const char* text, std::uint32_t* address);
