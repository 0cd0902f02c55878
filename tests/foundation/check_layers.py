#!/usr/bin/env python3
"""Fails when a product file includes a file of a higher layer, or when includes go round in a
circle. The agent is layered so that a newcomer can read it bottom up; the layers, lowest first:

  1 common/, agent/machine/, agent/resources/   2 agent/log/   3 agent/state/
  4 agent/bios/, agent/panel/, agent/files/     5 agent/decision/   6 agent/events/
  7 start-up: agent/events/startup.*, agent/events/main.cpp

A file may include its own layer and the ones below. A unit (a .cpp and its .h) may not include,
directly or through others, a unit that includes it back: that is a caller included by its callee.
The other programs (plugin/, setup/, panelcheck/) sit above the agent and may include any of it,
but nothing in the agent or common/ may include them.

  check_layers.py <repository root>
"""
import os
import re
import sys

LAYERS = [
    ("agent/events/startup.", 7), ("agent/events/main.", 7),
    ("common/", 1), ("agent/machine/", 1), ("agent/resources/", 1),
    ("agent/log/", 2), ("agent/state/", 3),
    ("agent/bios/", 4), ("agent/panel/", 4), ("agent/files/", 4),
    ("agent/decision/", 5), ("agent/events/", 6),
]
PROGRAMS = ("plugin/", "setup/", "panelcheck/")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    for prefix, layer in LAYERS:
        if path.startswith(prefix):
            return layer
    return None


def product_files(root):
    for top in ("common", "agent") + tuple(p.rstrip("/") for p in PROGRAMS):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def main():
    root = sys.argv[1]
    faults = []
    units = {}  # unit (path without extension) -> units it includes
    for path in sorted(product_files(root)):
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            included = INCLUDE.findall(source.read())
        own = layer_of(path)
        unit = os.path.splitext(path)[0]
        for target in included:
            if not os.path.exists(os.path.join(root, target)):
                continue  # a system or generated header
            if own is not None and target.startswith(PROGRAMS):
                faults.append(f"{path} includes {target}, a program above the agent")
            target_layer = layer_of(target)
            if own is not None and target_layer is not None and target_layer > own:
                faults.append(f"{path} (layer {own}) includes {target} (layer {target_layer})")
            target_unit = os.path.splitext(target)[0]
            if target_unit != unit:
                units.setdefault(unit, set()).add(target_unit)

    # A circle among units: each is found once, from its smallest member.
    def reaches(start, goal, seen):
        for nxt in units.get(start, ()):
            if nxt == goal:
                return True
            if nxt not in seen:
                seen.add(nxt)
                if reaches(nxt, goal, seen):
                    return True
        return False

    for unit in sorted(units):
        for target in sorted(units[unit]):
            if unit < target and reaches(target, unit, {target}):
                faults.append(f"{unit} and {target} include each other (directly or through others)")

    if faults:
        print("Includes that point up a layer or go round in a circle:")
        print("\n".join(faults))
        return 1
    print("every product include points to its own layer or a lower one, and none goes round")
    return 0


if __name__ == "__main__":
    sys.exit(main())
