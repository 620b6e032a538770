"""The ``orvik`` command line."""

from __future__ import annotations

import argparse
import json
import sys
from collections.abc import Sequence


def _summary(path: str) -> int:
    with open(path, encoding="utf-8") as handle:
        doc = json.load(handle)
    nodes = doc.get("nodes", [])
    agents = doc.get("agents", [])
    types = sorted({str(a.get("type", "")) for a in agents})
    constraints = doc.get("constraints", [])
    print(f"instance: {path}")
    print(f"nodes: {len(nodes)}")
    print(f"agents: {len(agents)}")
    print(f"agent types: {', '.join(types)}")
    print(f"constraints: {len(constraints)}")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="orvik", description=__doc__)
    sub = parser.add_subparsers(dest="command", required=True)
    info = sub.add_parser("info", help="print a summary of an instance file")
    info.add_argument("instance", help="path of a JSON instance")
    args = parser.parse_args(argv)
    if args.command == "info":
        return _summary(args.instance)
    return 2


if __name__ == "__main__":
    sys.exit(main())
