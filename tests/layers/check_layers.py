#!/usr/bin/env python3
"""Fails when a source folder includes a folder it may not depend on: dependencies point down.

Sub-folders are layers of their own (api/auth below api/v2, the terminal link above the device
conversation); a file belongs to the deepest folder named below, and so does an include, quoted
or in angle brackets. `--self-test` checks the checker on a small tree of its own.
"""
import pathlib
import re
import sys
import tempfile

# The folders every domain layer may use.
LOW = {"model", "core", "db"}
# Each folder and the folders below it that it may include; the executable alone knows them all.
ALLOWED = {
    "model": set(),
    "codec": set(),
    "http": set(),
    "core": set(),
    "download": {"http", "core"},
    "db": {"core", "model"},
    "files": {"db", "core", "model"},
    "notify": LOW,
    "upgrade": LOW,
    "upgrade/rollout": {"upgrade", "notify"} | LOW,
    "device": {"upgrade", "upgrade/rollout", "codec", "files", "notify"} | LOW,
    "device/link": {"device", "upgrade", "codec"} | LOW,
    "api/auth": LOW,
    "api/legacy": {"api/auth", "device", "upgrade", "upgrade/rollout", "codec", "files"} | LOW,
    "api/v2": {"api/auth", "device", "upgrade", "upgrade/rollout", "codec", "files", "notify"} | LOW,
    "download": {"http", "core"},
    "web": {"download", "http", "api/auth", "api/legacy", "api/v2", "device", "upgrade", "upgrade/rollout",
            "codec", "files", "notify"} | LOW,
    "tools": {"codec", "model"},
}
TOPS = {folder.split("/")[0] for folder in ALLOWED} | {"app", "api"}
ALLOWED["app"] = set(ALLOWED) - {"tools"}

INCLUDE = re.compile(r'^\s*#\s*include\s+(?:"([^"]+)"|<([^>]+)>)', re.M)


def unit_of(path: str):
    """The deepest folder of ALLOWED (or a project folder not named there) holding path."""
    parts = path.split("/")[:-1]
    for depth in range(len(parts), 0, -1):
        folder = "/".join(parts[:depth])
        if folder in ALLOWED:
            return folder
    return parts[0] if parts and parts[0] in TOPS else None


def check(root: pathlib.Path):
    faults = []
    for source in sorted(root.rglob("*")):
        if source.suffix not in (".h", ".cpp") or not source.is_file():
            continue
        relative = source.relative_to(root).as_posix()
        folder = unit_of(relative)
        if folder is None:
            continue
        if folder not in ALLOWED:
            faults.append(f"{relative}: {folder}/ is no layer the check knows")
            continue
        for quoted, angled in INCLUDE.findall(source.read_text(encoding="utf-8")):
            target = quoted or angled
            top = target.split("/", 1)[0]
            if quoted and "/" not in target:
                faults.append(f"{relative}: include without its folder: {target}")
                continue
            if top not in TOPS:
                continue
            other = unit_of(target)
            if other != folder and other not in ALLOWED[folder]:
                faults.append(f"{relative}: {folder}/ may not include {target}")
    return faults


def self_test() -> int:
    cases = {
        "db/A.cpp": ('#include "device/B.h"\n', True),          # upward
        "api/auth/C.h": ('#include <api/v2/D.h>\n', True),        # sideways, angle brackets
        "device/E.cpp": ('#include "device/link/F.h"\n', True),   # down into a higher sub-folder
        "device/link/G.cpp": ('#include "device/H.h"\n', False),  # the link uses the handler
        "api/I.cpp": ('#include "core/J.h"\n', True),             # a folder of no layer
        "core/K.cpp": ('#include "L.h"\n', True),                 # no folder named
        "api/v2/M.cpp": ("#include <QString>\n", False),          # not a project folder
    }
    failures = 0
    for path, (text, faulty) in cases.items():
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            (root / path).parent.mkdir(parents=True)
            (root / path).write_text(text, encoding="utf-8")
            if bool(check(root)) != faulty:
                print(f"self-test: {path} with {text.strip()} should {'' if faulty else 'not '}fail")
                failures += 1
    return 1 if failures else 0


def main(argv) -> int:
    if "--self-test" in argv:
        return self_test()
    root = pathlib.Path(argv[1] if len(argv) > 1 else ".").resolve()
    faults = check(root)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
