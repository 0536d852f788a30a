#!/usr/bin/env python3
"""Fails when a source folder includes a folder it may not depend on: dependencies point down."""
import pathlib
import re
import sys

# Each folder and the folders below it that it may include; the executable alone knows them all.
ALLOWED = {
    "model": set(),
    "codec": {"model"},
    "http": set(),
    "core": set(),
    "download": {"http", "core"},
    "db": {"core", "model"},
    "files": {"db", "core", "model"},
    "device": {"codec", "files", "db", "core", "model"},
    "api": {"device", "codec", "files", "db", "core", "model"},
    "web": {"download", "http", "api", "device", "codec", "files", "db", "core", "model"},
    "tools": {"codec", "model"},
}
ALL = set(ALLOWED) | {"app"}
ALLOWED["app"] = ALL - {"app", "tools"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main(root: pathlib.Path) -> int:
    faults = []
    for folder, allowed in sorted(ALLOWED.items()):
        for source in sorted((root / folder).rglob("*")):
            if source.suffix not in (".h", ".cpp"):
                continue
            for target in INCLUDE.findall(source.read_text(encoding="utf-8")):
                top = target.split("/", 1)[0]
                if "/" not in target:
                    faults.append(f"{source.relative_to(root)}: include without its folder: {target}")
                elif top != folder and top in ALL and top not in allowed:
                    faults.append(f"{source.relative_to(root)}: {folder}/ may not include {target}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()))
