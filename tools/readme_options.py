#!/usr/bin/env python3
"""README's option table from the program's --help, so that both say the same of each option.

    readme_options.py PROGRAM README [--check]

The table stands between the README lines OPTIONS_BEGIN and OPTIONS_END below; everything between
them is rewritten. With --check nothing is written: the status is 1, with the difference, when the
table is not the one --help gives (the test that keeps README and the program in step).
"""
import difflib
import subprocess
import sys

OPTIONS_BEGIN = "<!-- options: written by ./run readme-options from tev-upgrade --help -->"
OPTIONS_END = "<!-- end of options -->"


def options_of(help_text):
    """(names, text) of each option in the help's "Options:" part, in its order."""
    options, inside = [], False
    for line in help_text.splitlines():
        if line == "Options:":
            inside = True
        elif inside and not line.strip():
            break
        elif inside and line.startswith("  ") and line.lstrip().startswith("-") and \
                not line.startswith("        "):
            options.append([line.strip(), ""])
        elif inside and options:
            options[-1][1] = (options[-1][1] + " " + line.strip()).strip()
    return options


def table_of(options):
    def cell(text):
        return text.replace("|", "\\|")

    def names(heading):  # "-q, --quiet" -> "`-q`, `--quiet`"
        return ", ".join(f"`{name.strip()}`" for name in heading.split(", "))

    rows = ["| Option | What it does |", "|---|---|"]
    rows += [f"| {names(heading)} | {cell(text)} |" for heading, text in options]
    return rows


def main():
    program, readme, *rest = sys.argv[1:]
    check = rest == ["--check"]
    help_text = subprocess.run([program, "--help"], check=True, capture_output=True,
                               text=True).stdout
    lines = open(readme, encoding="utf-8").read().split("\n")
    try:
        begin, end = lines.index(OPTIONS_BEGIN), lines.index(OPTIONS_END)
    except ValueError:
        sys.exit(f"{readme}: the markers of the option table are missing")
    table = table_of(options_of(help_text))
    if len(table) < 4:
        sys.exit(f"{program} --help lists no options")
    if lines[begin + 1:end] == table:
        print(f"{readme}: the option table agrees with --help ({len(table) - 2} options)")
        return
    if check:
        sys.stdout.writelines(line + "\n" for line in difflib.unified_diff(
            lines[begin + 1:end], table, "README.md", "tev-upgrade --help", lineterm=""))
        sys.exit(f"{readme}: the option table differs from --help; run ./run readme-options")
    lines[begin + 1:end] = table
    open(readme, "w", encoding="utf-8").write("\n".join(lines))
    print(f"{readme}: the option table rewritten from --help ({len(table) - 2} options)")


if __name__ == "__main__":
    main()
