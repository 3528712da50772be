#!/usr/bin/env python3
"""Holds the tree to the rules docs/architecture.md states, so that the document cannot drift.

Two rules, both read from the document's "Include rules" block, never from a list of files:
  - Every `#include "..."` of a source file names a path its folder may include. A file belongs
    to the deepest folder of the block that holds it; "!path" forbids a path that a wider entry
    allows (the longest entry that matches decides); "*" allows anything. The files of one
    folder may include each other.
  - A test (tests/**/*_test.cpp) lives in the folder that mirrors its subject: tests/X/ for the
    source folder X/. A test that starts with its subject's header (its first include, alone in
    its block) lives in tests/ + that header's folder. Folders of whole-program
    and shared tests are named in the block as "tests/NAME/ *".
  - Every folder of tests/ that builds something (a CMakeLists.txt or source files) mirrors a
    source folder, with or without a *_test.cpp in it.
Also: platform/base/ includes only the standard library and POSIX headers (no Qt, no GStreamer).
And: the camera chip is described in platform/chip/ alone. Outside it (and outside tests/, which
restate the chip's tables to check them) no code writes a register's name as a string of its own
("EXCTL"), a register-selection prompt with its address ("...A[3:0]=0010"), or an option word
of the chip's ("indoor"); comments may name them.

Usage: check_layout.py [REPO_ROOT]   (exit status 1 and one line per fault when any)
"""
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
SOURCE_SUFFIXES = (".h", ".cpp", ".c", ".cc")
SKIPPED_DIRS = {".git", ".ci"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
# POSIX and C library headers: plain names, or under sys/, netinet/, arpa/, linux/.
POSIX_HEADER = re.compile(r"^((sys|netinet|arpa|linux)/)?[a-z_0-9]+\.h$")
STD_HEADER = re.compile(r"^[a-z_]+$")


def read_rules():
    """The block between the markers in docs/architecture.md: FOLDER/ then what it may include."""
    doc = os.path.join(ROOT, "docs", "architecture.md")
    text = open(doc, encoding="utf-8").read()
    m = re.search(r"<!-- include-rules -->\s*```[a-z]*\n(.*?)```", text, re.S)
    if not m:
        sys.exit(f"{doc}: no include-rules block")
    rules = {}
    for line in m.group(1).splitlines():
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        folder, *allowed = line.split()
        rules[folder] = allowed
    return rules


def folder_of(path, rules):
    """The deepest folder of the rules holding `path` (a path from the root), or None."""
    best = None
    for folder in rules:
        if path.startswith(folder) and (best is None or len(folder) > len(best)):
            best = folder
    return best


def may_include(folder, target, rules):
    allowed = rules[folder]
    if "*" in allowed or folder_of(target, rules) == folder:
        return True
    # The longest matching entry decides, so "!platform/portio/sim/" beats "platform/".
    verdict, length = False, -1
    for entry in allowed:
        deny = entry.startswith("!")
        prefix = entry[1:] if deny else entry
        if target.startswith(prefix) and len(prefix) > length:
            verdict, length = not deny, len(prefix)
    return verdict


def source_files():
    for dirpath, dirnames, filenames in os.walk(ROOT):
        rel_dir = os.path.relpath(dirpath, ROOT)
        dirnames[:] = sorted(d for d in dirnames
                             if d not in SKIPPED_DIRS and not d.startswith("build")
                             and not (rel_dir == "." and d.startswith(".")))
        for name in sorted(filenames):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.normpath(os.path.join(rel_dir, name))


def includes(path):
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1) == "<", m.group(2)


# The chip's facts as they would look copied into code elsewhere: string literals only.
CHIP_FACT = re.compile(r'"(FCTL|EXCTL|GCTL|FRCTL|MCTL|HWCTL|VWCTL|VPORT|indoor|outdoor)"'
                       r'|"[^"\n]*A\[3:0\]=[01]{4}')
CHIP_HOME = "platform/chip/"


def chip_fact_faults(path):
    """Lines of `path` that write down a fact of the chip outside its description."""
    if path.startswith(CHIP_HOME) or path.startswith("tests/"):
        return []
    faults = []
    with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            code = line.split("//", 1)[0]
            m = CHIP_FACT.search(code)
            if m:
                faults.append(f"{path}:{number}: {m.group(0)}: the chip's facts live in {CHIP_HOME}sx540.h")
    return faults


def main():
    rules = read_rules()
    faults = []
    for path in source_files():
        folder = folder_of(path, rules)
        if folder is None:
            faults.append(f"{path}: in no folder of the include rules (docs/architecture.md)")
            continue
        faults += chip_fact_faults(path)
        project_includes = []
        first_include = None
        found = list(includes(path))
        # The subject's header stands first, alone in its block (a blank line after it).
        if found and not found[0][1] and (len(found) == 1 or found[1][0] > found[0][0] + 1):
            first_include = found[0][2]
        for number, system, target in found:
            where = f"{path}:{number}"
            if system:
                if folder == "platform/base/" and not (STD_HEADER.match(target) or POSIX_HEADER.match(target)):
                    faults.append(f"{where}: platform/base/ uses only the standard library and POSIX, not <{target}>")
                if folder == "platform/chip/" and not STD_HEADER.match(target):
                    faults.append(f"{where}: platform/chip/ uses only the standard library, not <{target}>")
                continue
            project_includes.append(target)
            if not may_include(folder, target, rules):
                faults.append(f'{where}: {folder} may not include "{target}"')
        # Tests in a folder of their own in the rules (whole-program tests, shared helpers) do
        # not mirror a source folder; every other test does.
        if folder == "tests/" and path.endswith("_test.cpp"):
            faults += test_place_faults(path, first_include)
    faults += test_folder_faults(rules)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


def test_folder_faults(rules):
    """Every folder of tests/ that builds something (a CMakeLists.txt or source files) mirrors a
    source folder, whether or not it holds a *_test.cpp: tests/X/ for the folder X/. Folders of
    whole-program and shared tests (their own entry in the rules) and what they hold are exempt;
    so are folders of data only."""
    faults = []
    tests = os.path.join(ROOT, "tests")
    for dirpath, dirnames, filenames in os.walk(tests):
        dirnames.sort()
        rel = os.path.relpath(dirpath, ROOT).replace(os.sep, "/") + "/"
        if rel == "tests/" or folder_of(rel, rules) != "tests/":
            continue
        if "CMakeLists.txt" not in filenames and not any(n.endswith(SOURCE_SUFFIXES) for n in filenames):
            continue
        mirrored = rel[len("tests/"):]
        if not os.path.isdir(os.path.join(ROOT, mirrored)):
            faults.append(f"{rel}: mirrors no source folder {mirrored} (a test folder is named for what it tests)")
    return faults


def test_place_faults(path, first_include):
    """A test in tests/X/ tests X/: the folder X/ exists, and a test that starts with a header of
    ours alone in its block (its subject's, by the tree's convention) lives in tests/ + that
    header's folder. A test that starts with system headers drives a built program or module, or several
    files of its folder; its folder alone names its subject."""
    folder = os.path.dirname(path)[len("tests/"):]
    if not os.path.isdir(os.path.join(ROOT, folder)):
        return [f"{path}: tests/{folder}/ mirrors no source folder {folder}/"]
    if first_include is None or first_include.startswith("tests/"):
        return []
    subject = os.path.dirname(first_include)
    if subject != folder:
        return [f"{path}: tests {first_include}, so it belongs in tests/{subject}/ "
                "(a test lives in the folder that mirrors its subject)"]
    return []


if __name__ == "__main__":
    sys.exit(main())
