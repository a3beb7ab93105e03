// Answers from the command line: they fill the dialogs' controls and, for an unattended run, press
// their buttons, through the same dialog procedures a person's answers go through.
#pragma once
#include <string>

struct ScriptedAnswerSet {
    const char* device = nullptr;  // fills the address dialog's device address
    const char* local = nullptr;   // selects this computer's address; must be one of the list's
    const char* user = nullptr;    // fills the password dialog's user name
    bool has_password = false;
    std::string password;          // fills the password dialog's password, once
    bool yes = false;              // presses the buttons: nobody is asked anything
    // --check: the warning and the address dialog are pressed, and the password dialog when the
    // password is given: nothing is asked but a password not given.
    bool check = false;
    // How the option that gives the password is spelled, for the box that asks for it.
    const char* password_option = "--password-file";
};

// Installs the answers for the rest of the run. A question the answers cannot take ends the run
// with an error box (status 1): with yes, a password wanted and none given, a password refused; in
// any case a local address this computer does not have.
void scripted_answers_use(const ScriptedAnswerSet& answers);
// Whether the answers installed leave nobody to press Cancel while the device is asked: they press
// every button (yes), or the run only reads the device (check). False before any are installed.
bool scripted_answers_unwatched();
