#!/usr/bin/env python3
"""Fails when a source file includes from a layer it may not use.

The layers and what each may use are read from the tables of ARCHITECTURE.md:
a row `| \`core/\` | ... | link, platform, Qt Core | ...` lets core/ include
"core/...", "link/..." and "platform/..." (and what those may use in turn).
Every project header is included with its folder ("core/queuefolder.h"), so a
bare name that is a project header is an error too. tests/ and bench/ may use
everything."""
import os, re, sys  # noqa: E401

root = sys.argv[1] if len(sys.argv) > 1 else "."
row = re.compile(r"^\|\s*`([a-z]+)/`\s*\|[^|]*\|([^|]*)\|", re.M)
rows = dict(row.findall(open(os.path.join(root, "ARCHITECTURE.md"), encoding="utf-8").read()))
if not rows:
    sys.exit("ARCHITECTURE.md: no layer table found")
direct = {folder: {w for w in re.findall(r"\b[a-z]+\b", uses) if w in rows} for folder, uses in rows.items()}


# The folder and all it uses, directly or through others (`path`: the folders that led here).
def allowed(folder, path=frozenset()):
    return {folder}.union(*(allowed(used, path | {folder}) for used in direct.get(folder, ()) if used not in path))


headers = {name for folder in rows for name in os.listdir(os.path.join(root, folder)) if name.endswith(".h")}
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
faults = []
for top in sorted(set(rows) | {"tests", "bench"}):
    may = allowed(top) if top in rows else set(rows) | {"support"}
    for folder, _, files in os.walk(os.path.join(root, top)):
        for name in sorted(name for name in files if name.endswith((".cpp", ".h"))):
            path = os.path.join(folder, name)
            for target in include.findall(open(path, encoding="utf-8").read()):
                where = os.path.relpath(path, root)
                if "/" not in target and target in headers:
                    faults.append(f'{where}: "{target}" without its folder')
                elif target.split("/")[0] in set(rows) - may:
                    faults.append(f'{where}: includes "{target}", but {top}/ may use only '
                                  + ", ".join(sorted(may - {top})))
print("\n".join(faults + [f"{len(faults)} include(s) against the layers" if faults else "layers kept"]))
sys.exit(1 if faults else 0)
