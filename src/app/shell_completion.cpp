// The bash completion: the option table turned into a completion function.
#include "app/shell_completion.h"

#include <cstring>

#include "app/command_line.h"
#include "program_version.h"

namespace {

// What may follow an option, by the name of its value in the table.
enum class FollowedBy { ANOTHER_OPTION, A_FILE, A_FOLDER, A_VALUE };

FollowedBy followed_by(const OptionRow& row) {
    if (row.value_name == nullptr) return FollowedBy::ANOTHER_OPTION;
    if (std::strcmp(row.value_name, "FILE") == 0) return FollowedBy::A_FILE;
    if (std::strcmp(row.value_name, "DIR") == 0) return FollowedBy::A_FOLDER;
    return FollowedBy::A_VALUE;
}

// The row's spellings as a case pattern: "--jobs|-j".
std::string pattern(const OptionRow& row) {
    std::string names = std::string("--") + row.long_name;
    if (row.short_name != 0) names += std::string("|-") + row.short_name;
    return names;
}

// Every spelling of the rows followed by `kind`, '|'-separated; empty when there is none.
std::string patterns_of(FollowedBy kind) {
    std::string patterns;
    for (const OptionRow& row : option_table()) {
        if (followed_by(row) != kind) continue;
        if (!patterns.empty()) patterns += '|';
        patterns += pattern(row);
    }
    return patterns;
}

// A branch of the case over the option before the word; none for a pattern of no options (bash
// refuses an empty pattern).
std::string branch(const std::string& patterns, const char* body) {
    return patterns.empty() ? std::string() : "        " + patterns + ")\n" + body;
}

}  // namespace

std::string bash_completion_text() {
    std::string words;
    for (const OptionRow& row : option_table()) {
        if (!words.empty()) words += ' ';
        words += std::string("--") + row.long_name;
    }
    std::string text =
        "# bash completion for tev-upgrade " TEV_PROGRAM_VERSION
        ", written by its build from the program's option table.\n"
        "_tev_upgrade() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} option= i\n"
        "    # The program takes no arguments but options, and none after \"--\".\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        [[ ${COMP_WORDS[i]} == -- ]] && { COMPREPLY=(); return 0; }\n"
        "    done\n"
        "    # \"--log=NAME\" reaches here as three words, \"--log\", \"=\" and \"NAME\".\n"
        "    if [[ $cur == = ]]; then\n"
        "        option=${COMP_WORDS[COMP_CWORD - 1]} cur=\n"
        "    elif ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[COMP_CWORD - 1]} == = ]]; then\n"
        "        option=${COMP_WORDS[COMP_CWORD - 2]}\n"
        "    elif ((COMP_CWORD > 0)); then\n"
        "        option=${COMP_WORDS[COMP_CWORD - 1]}\n"
        "    fi\n"
        "    case $option in\n";
    text += branch(patterns_of(FollowedBy::A_FILE),
                   "            compopt -o filenames 2>/dev/null\n"
                   "            mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
                   "            return 0 ;;\n");
    text += branch(patterns_of(FollowedBy::A_FOLDER),
                   "            compopt -o filenames 2>/dev/null\n"
                   "            mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n"
                   "            return 0 ;;\n");
    // An address, a name, a number: nothing to offer, and no option in its place.
    text += branch(patterns_of(FollowedBy::A_VALUE),
                   "            COMPREPLY=()\n"
                   "            return 0 ;;\n");
    text += "    esac\n"
            "    mapfile -t COMPREPLY < <(compgen -W \"" +
            words +
            "\" -- \"$cur\")\n"
            "}\n"
            "complete -F _tev_upgrade tev-upgrade\n";
    return text;
}
