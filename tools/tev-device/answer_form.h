// How the device writes an answer on the wire: its status line's version, the letter case of its
// header names, a Basic challenge before the Digest one, and how the body's end is told (length,
// chunks, or nothing on a connection that stays open).
#pragma once
#include <string>

#include "device_options.h"

// The whole answer text for a status line's code and reason, the header lines (each ending in
// CR LF, a challenge among them) and the body.
std::string write_answer(const DeviceOptions& options, int status, const std::string& reason,
                         const std::string& headers, const std::string& body);
// The body in chunks, the first status label split across two of them, and a trailer field.
std::string chunked_body(const std::string& body);
