// README.txt of the Windows download, written from the option table and the exit statuses, so
// that it lists exactly the switches the Windows program takes.
#pragma once
#include <string>

// The text with Windows line ends (CR LF), as Notepad shows it.
std::string windows_readme_text();
