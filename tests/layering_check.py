#!/usr/bin/python3
"""Checks that the sources keep to the layers of Ostrel.

The table LAYERS below is the authority on what each folder of src/ may use; docs/architecture.md
repeats it for readers. Read from the sources, nothing compiled:

- every #include of a file under src/<folder>/ or tests/<folder>/ names only its own folder, the
  folders that LAYERS allows it, or the generated ostrel/version.h; Qt headers only in ui, and
  there not in the files of a core library (ostrel_core_library: the window's Qt-free logic);
- every library of src/<folder>/CMakeLists.txt links only libraries of allowed folders, and links
  exactly the layers its files include: PUBLIC those that its headers include, PRIVATE those
  that only its .cc files include.

bench/ and fuzz/ may use any layer and are not read. Prints each broken rule as file:line and
exits with 1; exits with 0 when every rule holds. With --expect FILE:LINE (once for each), it
checks itself instead: it exits with 0 only when the broken rules are exactly those places.
"""

import argparse
import os
import re
import sys

# What each folder's files may include besides their own folder, lowest layer first. A layer may
# use the layers below it that are named here, never one above it.
LAYERS = {
    "base": [],
    "package": ["base"],
    "geometry": ["package", "base"],
    "electrical": ["geometry", "package", "base"],
    "physical": ["electrical", "geometry", "package", "base"],
    "report": ["electrical", "geometry", "package", "base"],
    "export": ["report", "physical", "electrical", "geometry", "package", "base"],
    "settings": ["geometry", "package", "base"],
    "app": ["settings", "export", "report", "physical", "electrical", "geometry", "package",
            "base"],
    "cli": ["app", "settings", "export", "report", "physical", "electrical", "geometry", "package",
            "base"],
    "ui": ["app", "settings", "export", "report", "physical", "electrical", "geometry", "package",
           "base"],
}

# The only folder whose files may include Qt.
QT_FOLDERS = {"ui"}

# A header made at configure time (ostrel/version.h) that any file may include.
GENERATED = {"ostrel"}

# The tests of tests/<folder>/ may use what src/<folder> may use, their own folder and the
# helpers of tests/support/, which themselves use no layer. A test file that drives a layer
# above its folder's is named here with the layers it needs and why.
TEST_SUPPORT = "support"
TEST_EXTRA = {
    # Random packages through the same stages as ostrel-cli: reads them with the Workspace.
    "tests/physical/property_test.cc": ["app"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Q[A-Za-z0-9_]*|Qt[A-Za-z0-9_]*/.*|q[a-z0-9_]+\.h)$")
SOURCE_SUFFIXES = (".h", ".hh", ".hpp", ".cc", ".cpp", ".cxx", ".inc")
LIBRARY = re.compile(r"(ostrel_core_library|add_library)\s*\(\s*([\w-]+)([^)]*)\)", re.S)
LINK = re.compile(r"target_link_libraries\s*\(([^)]*)\)", re.S)


def check_table():
    """The table itself: known folders only, and no circle."""
    problems = []
    for folder, allowed in LAYERS.items():
        for other in allowed:
            if other not in LAYERS:
                problems.append(f"{__file__}: {folder} may use {other}, which is no layer")
    state = {}

    def visit(folder, path):
        if state.get(folder) == "done":
            return
        if state.get(folder) == "open":
            problems.append(f"{__file__}: the layers go round: {' -> '.join(path + [folder])}")
            return
        state[folder] = "open"
        for other in LAYERS.get(folder, []):
            visit(other, path + [folder])
        state[folder] = "done"

    for folder in LAYERS:
        visit(folder, [])
    return problems


def source_files(top):
    """The C++ files under the folder `top`, sorted."""
    found = []
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for name in sorted(filenames):
            if name.endswith(SOURCE_SUFFIXES):
                found.append(os.path.join(dirpath, name))
    return found


def includes(path):
    """(line number, bracket, name) of every #include of the file."""
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1), m.group(2)


def check_includes(root, area, folder, allowed, qt_allowed, bare_allowed, only=None):
    """Problems of the files of `area`/`folder`, and the layers that they include: a map from
    layer to "h" when a header includes it, else "cc"."""
    problems = []
    used = {}
    for path in source_files(os.path.join(root, area, folder)):
        if only is not None and os.path.basename(path) not in only:
            continue
        rel = os.path.relpath(path, root)
        allowed_here = set(allowed) | set(TEST_EXTRA.get(rel, []))
        is_header = path.endswith((".h", ".hh", ".hpp", ".inc"))
        for number, bracket, name in includes(path):
            where = f"{rel}:{number}"
            first = name.split("/")[0]
            if bracket == "<":
                if QT_HEADER.match(name) and not qt_allowed:
                    problems.append(f"{where}: Qt header <{name}>: only src/ui uses Qt")
                if not ("/" in name and first in LAYERS):
                    continue
                # A header of ours in angle brackets: named as such, and held to the layers.
                problems.append(f'{where}: <{name}>: a header of ours, included as "{name}"')
            if ".." in name.split("/"):
                problems.append(f'{where}: "{name}": include by folder/name from src/, not by ..')
                continue
            if "/" not in name:
                if not bare_allowed:
                    problems.append(f'{where}: "{name}": include by folder/name, '
                                    f'as "{folder}/{name}"')
                continue
            if first in GENERATED or first == folder:
                continue
            if first in LAYERS:
                if first not in allowed_here:
                    problems.append(f'{where}: {area}/{folder} may not include "{name}" '
                                    f"(it may use: {', '.join(allowed) or 'nothing of ours'})")
                elif not is_header:
                    used.setdefault(first, "cc")
                else:
                    used[first] = "h"
            elif first == TEST_SUPPORT and area == "tests":
                continue
            else:
                problems.append(f'{where}: "{name}": {first}/ is no layer of src/')
    return problems, used


def library_folder(name):
    """The folder of src/ that a library target of ours comes from, or None."""
    if not name.startswith("ostrel_"):
        return None
    rest = name[len("ostrel_"):]
    if rest in LAYERS:
        return rest
    for folder in LAYERS:
        if rest.startswith(folder + "_"):
            return folder
    return None


def libraries(text, folder_dir):
    """Each library that a src/<folder>/CMakeLists.txt builds: the line that declares it, whether
    it is a core library (free of Qt), and its files: those named in the call, or every file of
    the folder when it globs its sources. A .cc brings the header of the same name beside it."""
    found = {}
    for m in LIBRARY.finditer(text):
        name, words = m.group(2), m.group(3).split()
        line = text.count("\n", 0, m.start()) + 1
        if any(w.startswith("${") for w in words):
            files = [os.path.basename(p) for p in source_files(folder_dir)]
        else:
            files = [w for w in words if w.endswith(SOURCE_SUFFIXES)]
            files += [f[: f.rfind(".")] + ".h" for f in files if not f.endswith(".h")]
        found[name] = (line, m.group(1) == "ostrel_core_library",
                       sorted({f for f in files if os.path.exists(os.path.join(folder_dir, f))}))
    return found


def check_links(root, folder):
    """Problems of the link lines of src/<folder>/CMakeLists.txt: no library of a folder that
    `folder` may not use, and each library of ours links exactly the layers its files include,
    PUBLIC those that its headers include, PRIVATE those that only its .cc files include."""
    folder_dir = os.path.join(root, "src", folder)
    path = os.path.join(folder_dir, "CMakeLists.txt")
    if not os.path.exists(path):
        return []
    rel = os.path.relpath(path, root)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    problems = []
    libs = libraries(text, folder_dir)
    linked = {name: {} for name in libs}  # library -> {layer: "PUBLIC" or "PRIVATE"}
    for m in LINK.finditer(text):
        number = text.count("\n", 0, m.start()) + 1
        words = m.group(1).split()
        target, scope = words[0], "PUBLIC"
        for word in words[1:]:
            if word in ("PUBLIC", "PRIVATE", "INTERFACE"):
                scope = word
                continue
            other = library_folder(word)
            if other is None or other == folder:
                continue
            if other not in LAYERS[folder]:
                problems.append(f"{rel}:{number}: {target} links {word}: {folder} may not use "
                                f"{other}")
            elif target in linked:
                linked[target][other] = scope
    for name, (line, core, files) in libs.items():
        found, used = check_includes(root, "src", folder, LAYERS[folder], not core, True,
                                     only=files)
        # A core library is free of Qt even in ui (the window's logic, tested without a display).
        problems += [p.replace("only src/ui uses Qt", f"{name} is free of Qt")
                     for p in found if ": Qt header <" in p]
        for other in sorted(set(used) | set(linked[name])):
            want = {"h": "PUBLIC", "cc": "PRIVATE"}.get(used.get(other))
            have = linked[name].get(other)
            if want == have:
                continue
            where = f"{rel}:{line}: {name}"
            which = "its headers include" if want == "PUBLIC" else "only its .cc files include"
            if want is None:
                problems.append(f"{where} links ostrel_{other}, which none of its files include")
            elif have is None:
                problems.append(f"{where} does not link ostrel_{other}, which {which}; "
                                f"link it {want}")
            else:
                problems.append(f"{where} links ostrel_{other} {have}, but {which} it; "
                                f"link it {want}")
    return problems


def check(root):
    problems = check_table()
    for folder in LAYERS:
        found, used = check_includes(root, "src", folder, LAYERS[folder], folder in QT_FOLDERS,
                                     bare_allowed=False)
        problems += found
        problems += check_links(root, folder)
    tests = os.path.join(root, "tests")
    if os.path.isdir(tests):
        for folder in sorted(os.listdir(tests)):
            if folder in LAYERS:
                found, _ = check_includes(root, "tests", folder, LAYERS[folder] + [TEST_SUPPORT],
                                          folder in QT_FOLDERS, bare_allowed=True)
            elif folder == TEST_SUPPORT:
                found, _ = check_includes(root, "tests", folder, [], False, bare_allowed=True)
            else:
                continue
            problems += found
    return problems


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.dirname(here),
                        help="the tree to check (default: this repository)")
    parser.add_argument("--expect", action="append", default=[], metavar="FILE:LINE",
                        help="a place that must break a rule; the check then passes only when "
                             "exactly these places do")
    args = parser.parse_args()
    if not os.path.isdir(os.path.join(args.root, "src")):
        print(f"{args.root}: no src/ folder to check", file=sys.stderr)
        return 2
    problems = check(args.root)
    for problem in problems:
        print(problem)
    if args.expect:
        places = {":".join(p.split(":")[:2]) for p in problems}
        missed = [e for e in args.expect if e not in places]
        extra = sorted(places - set(args.expect))
        for e in missed:
            print(f"{e}: expected to break a rule, but passed")
        for e in extra:
            print(f"{e}: broke a rule where none was expected")
        return 1 if missed or extra else 0
    if problems:
        print(f"{len(problems)} include(s) or link(s) break the layers; the table of what each "
              f"layer may use is in tests/layering_check.py")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
