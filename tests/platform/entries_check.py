#!/usr/bin/env python3
"""Every entry of the API the stand-in declares begins with an ApiCall of its
own entry, so that it notes the call for the waits and meets failures a test
harness injects: each WINAPI function of platform/standin_*.h (but WinMain,
the game's) and each method of the four DirectDraw interfaces, defined in
platform/core/. Also each entry of platform/core/entries.h is used once.

    entries_check.py PLATFORM_DIR      exit 1 and say which, when one is not
"""
import pathlib
import re
import sys

platform = pathlib.Path(sys.argv[1])
headers = "".join(p.read_text() for p in sorted(platform.glob("standin_*.h")))
core = {p.name: p.read_text() for p in sorted((platform / "core").glob("*.cpp"))}
names = dict(re.findall(r"X\((\w+), \"([^\"]+)\"\)", (platform / "core/entries.h").read_text()))

# Platform name -> how its definition in the core starts.
wanted = {}
for function in re.findall(r"\bWINAPI (\w+)\(", headers):
    if function != "WinMain":
        wanted[function] = r"\bWINAPI " + function + r"\("
classes = {"IDirectDraw7": "Device", "IDirectDrawSurface7": "Surface",
           "IDirectDrawPalette": "Palette", "IDirectDrawClipper": "Clipper"}
for interface, body in re.findall(r"struct (IDirect\w+) \{(.*?)\n\};", headers, re.S):
    for method in re.findall(r"virtual \w+ (\w+)\(", body):
        wanted[interface + "::" + method] = r"\b" + classes[interface] + "::" + method + r"\("

faults, used = [], []
for name, start in sorted(wanted.items()):
    found = [(file, m.end()) for file, text in core.items() for m in re.finditer(start, text)]
    if len(found) != 1:
        faults.append(f"{name}: {len(found)} definitions in platform/core")
        continue
    file, at = found[0]
    body = core[file][core[file].index("{", at) + 1:]
    first = re.match(r"\s*const ApiCall call\(Entry::(\w+)\);", body)
    if first is None:
        faults.append(f"{name} ({file}): does not begin with an ApiCall")
    elif names.get(first.group(1)) != name:
        faults.append(f"{name} ({file}): notes itself as {first.group(1)}")
    else:
        used.append(first.group(1))
for entry in sorted(set(names) - set(used)):
    faults.append(f"entry {entry} ({names[entry]}): no definition begins with it")
print("\n".join(faults) or f"{len(used)} entries, each beginning with its ApiCall")
sys.exit(1 if faults else 0)
