// The manual page tev-upgrade(1), written from the option table, so that it lists exactly the
// options the program takes.
#pragma once
#include <string>

// The page in man(7) markup; date is the page's date (the build's, "YYYY-MM-DD").
std::string manual_page_text(const char* date);
