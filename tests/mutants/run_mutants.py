#!/usr/bin/env python3
"""Plants each fault of a list, one at a time, in a scratch copy of the tree, rebuilds what the
fast tests need and runs them: a fault is caught when a test fails (or, said so, when the build
does), missed when every test passes, stale when its text is no longer in its file.

Usage: run_mutants.py ROOT LIST WORK [TEXT...]
  ROOT  the project's tree (its tracked and new files are copied; the tree itself is never touched)
  LIST  the faults (see the head of tests/mutants/faults.txt for the format)
  WORK  scratch folder: WORK/src is the copy, WORK/build its build, WORK/logs one log a fault
  TEXT  only the faults whose description or file contains one of these texts
Ends with "N caught, M missed, K stale"; exits 1 when one is missed or stale or its text is found
more than once (an error in the list), 2 when the list cannot be read or the unchanged copy does
not build or pass.
"""
import os
import re
import shutil
import subprocess
import sys
import time

# What the fast tests need built (a fast test that runs a new program needs it added here), and
# the labels of the slow rows they leave out: the whole upgrades (e2e), Wine, fuzzing, the fault
# matrix and the benchmark.
TARGETS = ["tev-unit-tests", "tev-upgrade", "tev-device", "make-image", "runner-driver",
           "udp-port-holder", "tftp-peer", "dialog-gallery", "tev-upgrade-manual"]
SLOW_LABELS = "^(e2e|windows|fuzz|faults|bench)$"
TEST_TIMEOUT_S = "120"  # for a test without its own: a fault that makes a test hang is caught


class ListError(Exception):
    pass


def parse_list(path):
    """The entries of the list: dicts with what, file, find, replace and line (where it starts)."""
    entries, entry, part = [], None, None
    with open(path, encoding="utf-8") as handle:
        lines = handle.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for number, line in enumerate(lines, 1):
        if line.startswith("== "):
            entry = {"what": line[3:].strip(), "file": None, "find": None, "replace": None,
                     "line": number}
            entries.append(entry)
            part = None
        elif line.startswith("|"):
            if entry is None or part is None:
                raise ListError(f"{path}:{number}: text outside a find: or replace: part")
            if line != "|" and not line.startswith("| "):
                raise ListError(f"{path}:{number}: a text line starts with '| ' (or is '|' alone)")
            entry[part].append(line[2:])
        elif line.startswith("file: ") and entry is not None:
            entry["file"] = line[len("file: "):].strip()
            part = None
        elif line in ("find:", "replace:") and entry is not None:
            part = line[:-1]
            if entry[part] is not None:
                raise ListError(f"{path}:{number}: a second {line}")
            entry[part] = []
        elif line.strip() == "" or line.startswith("#"):
            part = None
        else:
            raise ListError(f"{path}:{number}: not understood: {line!r}")
    for entry in entries:
        where = f"{path}:{entry['line']}"
        if not entry["what"] or not entry["file"] or not entry["find"] or entry["replace"] is None:
            raise ListError(f"{where}: an entry needs its description, file:, find: and replace:")
        entry["find"] = "\n".join(entry["find"])
        entry["replace"] = "\n".join(entry["replace"])
        if entry["find"] == entry["replace"]:
            raise ListError(f"{where}: the replacement is the text itself")
    return entries


def copy_tree(root, destination):
    """Copies the tracked and new (not ignored) files of root, keeping their times, so that an
    unchanged file is not rebuilt; files gone from root are removed from the copy."""
    listed = subprocess.run(["git", "-C", root, "ls-files", "-z", "--cached", "--others",
                             "--exclude-standard"], check=True, capture_output=True).stdout
    wanted = set()
    for name in listed.decode().split("\0"):
        source = os.path.join(root, name)
        if not name or not os.path.isfile(source):
            continue
        wanted.add(name)
        target = os.path.join(destination, name)
        if os.path.exists(target) and same_file(source, target):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
    for folder, _, files in os.walk(destination):
        for file_name in files:
            name = os.path.relpath(os.path.join(folder, file_name), destination)
            if name not in wanted:
                os.remove(os.path.join(destination, name))


def same_file(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, "rb") as x, open(b, "rb") as y:
        return x.read() == y.read()


def run_logged(command, log, cwd=None):
    """Runs command with its output appended to log; True when it succeeded."""
    with open(log, "a", encoding="utf-8") as out:
        out.write("$ " + " ".join(command) + "\n")
        out.flush()
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode == 0


def configure(source, build, log):
    if os.path.exists(os.path.join(build, "CMakeCache.txt")):
        return True
    return run_logged(["cmake", "-S", source, "-B", build, "-G", "Ninja",
                       "-DCMAKE_BUILD_TYPE=Debug", "-DTEV_BUILD_TESTS=ON", "-DTEV_SANITIZE=ON"],
                      log)


def build(build_dir, log):
    return run_logged(["cmake", "--build", build_dir, "-j2", "--target"] + TARGETS, log)


def fast_tests(build_dir, log):
    """Runs the fast tests, the unit tests first, stopping at the first failure; the names of
    those that failed."""
    common = ["ctest", "--test-dir", build_dir, "-j2", "--stop-on-failure", "--timeout",
              TEST_TIMEOUT_S, "--output-on-failure"]
    if run_logged(common + ["-L", "^unit$"], log) and \
            run_logged(common + ["-LE", SLOW_LABELS.replace("^(", "^(unit|")], log):
        return []
    with open(log, encoding="utf-8", errors="replace") as handle:
        text = handle.read()
    listing = text.rpartition("The following tests FAILED:")[2]
    failed = re.findall(r"^\s*\d+ - (\S+) \([^)]*\)$", listing, re.MULTILINE)
    return failed or ["(ctest failed)"]


def plant(entry, source):
    """Plants the fault; returns the file's original text, or the reason it cannot be planted."""
    path = os.path.join(source, entry["file"])
    if not os.path.isfile(path):
        return None, "stale (no such file)"
    with open(path, encoding="utf-8") as handle:
        original = handle.read()
    found = original.count(entry["find"])
    if found == 0:
        return None, "stale (text not found)"
    if found > 1:
        return None, f"error in the list (text found {found} times)"
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(original.replace(entry["find"], entry["replace"]))
    return original, None


def restore(entry, source, original):
    with open(os.path.join(source, entry["file"]), "w", encoding="utf-8") as handle:
        handle.write(original)


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    root, list_path, work = (os.path.abspath(a) for a in argv[1:4])
    only = argv[4:]
    try:
        entries = parse_list(list_path)
    except ListError as error:
        print(f"mutate: {error}", file=sys.stderr)
        return 2
    if only:
        entries = [e for e in entries if any(t in e["what"] or t in e["file"] for t in only)]
    source, build_dir, logs = (os.path.join(work, n) for n in ("src", "build", "logs"))
    shutil.rmtree(logs, ignore_errors=True)
    os.makedirs(logs)
    os.makedirs(source, exist_ok=True)
    copy_tree(root, source)

    start = time.monotonic()
    baseline = os.path.join(logs, "baseline.log")
    print(f"mutate: {len(entries)} planted faults; building and testing the unchanged copy first "
          f"({work})", flush=True)
    if not configure(source, build_dir, baseline) or not build(build_dir, baseline):
        print(f"mutate: the unchanged copy does not build; see {baseline}")
        return 2
    failed = fast_tests(build_dir, baseline)
    if failed:
        print(f"mutate: the fast tests fail without a fault ({', '.join(failed)}); see {baseline}")
        return 2

    caught = missed = stale = errors = 0
    for number, entry in enumerate(entries, 1):
        log = os.path.join(logs, f"{number:02d}.log")
        head = f"[{number}/{len(entries)}] {entry['file']}: {entry['what']}"
        original, problem = plant(entry, source)
        if problem is not None:
            print(f"{head}\n    {problem}", flush=True)
            if problem.startswith("stale"):
                stale += 1
            else:
                errors += 1
            continue
        began = time.monotonic()
        try:
            if not build(build_dir, log):
                verdict = "caught (build)"
            else:
                failed = fast_tests(build_dir, log)
                verdict = f"caught by {', '.join(failed[:3])}" if failed else "MISSED"
        finally:
            restore(entry, source, original)
        if verdict == "MISSED":
            missed += 1
        else:
            caught += 1
        print(f"{head}\n    {verdict} ({time.monotonic() - began:.0f} s)", flush=True)

    minutes = (time.monotonic() - start) / 60
    print(f"mutate: {minutes:.1f} min in all; logs in {logs}")
    summary = f"{caught} caught, {missed} missed, {stale} stale"
    if errors:
        summary += f", {errors} errors in the list"
    print(summary)
    return 0 if missed == stale == errors == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
