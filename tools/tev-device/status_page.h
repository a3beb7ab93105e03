// The HTML status page "/admin/advanced": a table with each label in one cell and its value in
// the next, the value wrapped in the model's tags.
#pragma once
#include <string>

#include "device_options.h"

std::string status_page_html(const DeviceOptions& options, const std::string& software_version);
// Version text changed to another letter case, as --report-version-case asks.
std::string change_case(const std::string& text, CaseChange change);
