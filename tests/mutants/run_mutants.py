#!/usr/bin/env python3
"""Plants each fault of a list, one at a time, in a scratch copy of the tree, rebuilds what the
fast tests need and runs them. A fault is
  caught  when a test fails with it and that test, run once more with the fault still in, fails
          again, and run on the restored tree, passes (or, for an entry marked "builds: no", when
          the build fails);
  missed  when every fast test passes;
  stale   when its text is no longer in its file;
  an error when the build fails unexpectedly (or succeeds when it was expected to fail), the unit
          tests crash while listing themselves, ctest fails without naming a failed test, the
          failed test does not fail again or does not pass on the restored tree (a flaky test),
          or its text is found more than once.

Usage: run_mutants.py [--targets NAME,...] ROOT LIST WORK [TEXT...]
  ROOT  the project's tree (its tracked and new files are copied; the tree itself is never touched)
  LIST  the faults (see the head of tests/mutants/faults.txt for the format)
  WORK  scratch folder: WORK/src is the copy, WORK/build its build, WORK/logs one log a fault
  TEXT  only the faults whose description or file contains one of these texts
  --targets  what to build instead of the fast tests' programs (for the sweep's own test)
Ends with "N caught, M missed, K stale, E errors"; exits 1 when one is missed, stale or an error,
2 when the list cannot be read or the unchanged copy does not build or pass.
"""
import os
import re
import shutil
import subprocess
import sys
import time

# What the fast tests need built (a fast test that runs a new program needs it added here), and
# the labels of the slow rows they leave out: the whole upgrades (e2e), Wine, fuzzing, the fault
# matrix, the benchmark and the sweep's own test.
TARGETS = ["tev-unit-tests", "tev-upgrade", "tev-device", "make-image", "runner-driver",
           "udp-port-holder", "tftp-peer", "dialog-gallery", "tev-upgrade-texts"]
SLOW_LABELS = "^(e2e|windows|fuzz|faults|bench|sweep)$"
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
                     "line": number, "builds": True}
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
        elif line == "builds: no" and entry is not None:
            entry["builds"] = False
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
    """Copies the tracked and new (not ignored) files of root; a file the copy already holds
    unchanged is left alone, so that it is not rebuilt. A file written takes the time of the copy,
    not root's: one that a stopped sweep left with its fault in was built after root's time, and
    the build must see it changed. Files gone from root are removed from the copy."""
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
        shutil.copyfile(source, target)
        shutil.copymode(source, target)
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
                       "-DCMAKE_BUILD_TYPE=Debug", "-DTEV_BUILD_TESTS=ON", "-DTEV_SANITIZE=ON",
                       "-DTEV_WERROR=ON"],
                      log)


def build(build_dir, targets, log):
    return run_logged(["cmake", "--build", build_dir, "-j2", "--target"] + targets, log)


def listing_crashed(log, offset):
    """Whether the unit tests crashed (or failed) while the build listed their tests."""
    return "Error running test executable" in read_from(log, offset)


def read_from(log, offset):
    with open(log, encoding="utf-8", errors="replace") as handle:
        handle.seek(offset)
        return handle.read()


def fast_tests(build_dir, log):
    """Runs the fast tests, the unit tests first, stopping at the first failure: the names of
    those that failed (empty when all passed), or None when ctest failed without naming one."""
    common = ["ctest", "--test-dir", build_dir, "-j2", "--stop-on-failure", "--timeout",
              TEST_TIMEOUT_S, "--output-on-failure"]
    offset = os.path.getsize(log) if os.path.exists(log) else 0
    if run_logged(common + ["-L", "^unit$"], log) and \
            run_logged(common + ["-LE", SLOW_LABELS.replace("^(", "^(unit|")], log):
        return []
    listing = read_from(log, offset).rpartition("The following tests FAILED:")[2]
    failed = re.findall(r"^\s*\d+ - (\S+) \([^)]*\)$", listing, re.MULTILINE)
    return failed or None


def exact_names(names):
    """A ctest -R expression for exactly these test names."""
    quoted = (re.sub(r"([][^$.|()*+?\\])", r"\\\1", name) for name in names)
    return "^(" + "|".join(quoted) + ")$"


def tests_pass(build_dir, names, log):
    """Runs the named tests once more; True when every one passes."""
    return run_logged(["ctest", "--test-dir", build_dir, "--timeout", TEST_TIMEOUT_S,
                       "--output-on-failure", "-R", exact_names(names)], log)


def try_fault(entry, source, build_dir, targets, log):
    """Plants the fault, builds and tests, restores the file and checks the tests again; the
    verdict: ("caught" | "missed" | "error", what to print)."""
    original, problem = plant(entry, source)
    if problem is not None:
        return ("stale" if problem.startswith("stale") else "error"), problem
    restored = False
    try:
        offset = os.path.getsize(log) if os.path.exists(log) else 0
        if not build(build_dir, targets, log):
            if listing_crashed(log, offset):
                return "error", "the unit tests crashed while listing their tests"
            if not entry["builds"]:
                return "caught", "caught by the compiler (the entry says it does not build)"
            return "error", "the build failed (a fault that does not compile? mark it \"builds: no\")"
        if not entry["builds"]:
            return "error", "it builds, though its entry says \"builds: no\""
        failed = fast_tests(build_dir, log)
        if failed is None:
            return "error", "ctest failed without naming a failed test"
        if not failed:
            return "missed", "MISSED"
        if tests_pass(build_dir, failed, log):
            return "error", f"{', '.join(failed)} failed, then passed with the fault still in (flaky?)"
        restore(entry, source, original)
        restored = True
        if not build(build_dir, targets, log):
            return "error", "the restored tree does not build"
        if not tests_pass(build_dir, failed, log):
            return "error", f"{', '.join(failed)} failed on the restored tree too (flaky?)"
        return "caught", f"caught by {', '.join(failed[:3])}"
    finally:
        if not restored:
            restore(entry, source, original)


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
    args = argv[1:]
    targets = TARGETS
    if len(args) >= 2 and args[0] == "--targets":
        targets = args[1].split(",")
        args = args[2:]
    if len(args) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    root, list_path, work = (os.path.abspath(a) for a in args[:3])
    only = args[3:]
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
    if not configure(source, build_dir, baseline) or not build(build_dir, targets, baseline):
        print(f"mutate: the unchanged copy does not build; see {baseline}")
        return 2
    failed = fast_tests(build_dir, baseline)
    if failed != []:
        print(f"mutate: the fast tests fail without a fault ({', '.join(failed or ['ctest'])}); "
              f"see {baseline}")
        return 2

    counts = {"caught": 0, "missed": 0, "stale": 0, "error": 0}
    for number, entry in enumerate(entries, 1):
        log = os.path.join(logs, f"{number:02d}.log")
        began = time.monotonic()
        verdict, text = try_fault(entry, source, build_dir, targets, log)
        counts[verdict] += 1
        print(f"[{number}/{len(entries)}] {entry['file']}: {entry['what']}\n    {text} "
              f"({time.monotonic() - began:.0f} s)", flush=True)

    minutes = (time.monotonic() - start) / 60
    print(f"mutate: {minutes:.1f} min in all; logs in {logs}")
    print(f"{counts['caught']} caught, {counts['missed']} missed, {counts['stale']} stale, "
          f"{counts['error']} errors")
    return 0 if counts["caught"] == len(entries) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
