"""Time and peak memory of the solver's set-up, under several builds of the core.

Writes seeded instances with ``generate_large_instance.py`` (by default 256 and 2,000 points),
builds the C++ program ``setup_cost`` (``setup_cost.cpp``, the one beside this script) against
each git revision named on the command line, and runs it once per instance, mode and repetition
in a process of its own: the search's set-up (up to 256 points) and the improvement's (any
size). Prints, per build, the median set-up time and the largest peak resident memory the
set-up added to what the loaded problem already held, with the machine's load average.

Not a test: it prints figures.

    python benchmarks/setup_cost.py --build before=main --build after=HEAD
    python benchmarks/setup_cost.py --build before=main --build after=HEAD --points 256 1000
"""

from __future__ import annotations

import argparse
import re
import statistics
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

import generate_large_instance
import mend_outcomes

PROGRAM = Path(__file__).resolve().parent / "setup_cost.cpp"
SEARCH_POINT_LIMIT = 256
LINE = re.compile(r"set-up ([0-9.]+) s, RSS before ([0-9.]+) MiB, peak ([0-9.]+) MiB "
                  r"\(\+([-0-9.]+)\), kept \+([-0-9.]+) MiB(.*)$")


@dataclass
class Build:
    label: str
    program: Path


def build_revision(label: str, revision: str) -> Build:
    """``setup_cost`` of this directory's source, built against a git revision's core."""
    commit, source = mend_outcomes.revision_source(revision, "setup-src")
    binary = source.parent / "setup-build"
    # The program of this checkout, whatever the revision had.
    (source / "benchmarks" / "setup_cost.cpp").write_text(PROGRAM.read_text(encoding="utf-8"))
    lists = source / "benchmarks" / "CMakeLists.txt"
    text = lists.read_text(encoding="utf-8")
    if "setup_cost" not in text:
        lists.write_text(text + "\nadd_executable(setup_cost setup_cost.cpp)\n"
                         "target_link_libraries(setup_cost PRIVATE plenro::core)\n")
    print(f"[build] {label} = {revision} ({commit[:10]})", file=sys.stderr, flush=True)
    subprocess.run(
        ["cmake", "-S", str(source), "-B", str(binary), "-G", "Ninja",
         "-DCMAKE_BUILD_TYPE=Release", "-DORVIK_BUILD_PYTHON=OFF", "-DORVIK_BUILD_TESTS=OFF",
         "-DORVIK_BUILD_BENCHMARKS=ON", f"-DPython_EXECUTABLE={sys.executable}"],
        check=True, stdout=subprocess.DEVNULL,
    )
    subprocess.run(["cmake", "--build", str(binary), "-j", "2", "--target", "setup_cost"],
                   check=True, stdout=subprocess.DEVNULL)
    return Build(label, binary / "benchmarks" / "setup_cost")


def parse_build(text: str) -> Build:
    label, sep, revision = text.partition("=")
    if not sep or not label or not revision:
        raise argparse.ArgumentTypeError(f"expected LABEL=REVISION, got {text!r}")
    return build_revision(label, revision)


def measure(build: Build, path: Path, improve: bool) -> tuple[float, float, float, bool]:
    """Set-up seconds, MiB before, MiB added at the peak, and whether the peak was reset."""
    command = [str(build.program)] + (["--improve"] if improve else []) + [str(path)]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    match = LINE.search(out)
    if match is None:
        raise RuntimeError(f"unexpected output of {build.program}: {out!r}")
    seconds, before, _peak, added, _kept, note = match.groups()
    return float(seconds), float(before), float(added), not note


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", action="append", type=parse_build, required=True,
                        metavar="LABEL=REVISION", help="a build to run; give one or more")
    parser.add_argument("--points", type=int, nargs="+", default=[256, 2000],
                        help="instance sizes, the depot included (default 256 2000)")
    parser.add_argument("--repeat", type=int, default=3, help="runs per case (default 3)")
    args = parser.parse_args(argv)

    with tempfile.TemporaryDirectory() as tmp:
        instances = []
        for points in args.points:
            path = Path(tmp) / f"generated-{points}.json"
            generate_large_instance.main([str(path), "--points", str(points)])
            instances.append((points, path))
        with open("/proc/loadavg", encoding="ascii") as f:
            load_avg = " ".join(f.read().split()[:3])
        print(f"load average {load_avg}; median of {args.repeat} runs, peak = most added")
        print(f"{'build':<10}{'points':>7}  {'set-up':<8}{'time s':>9}{'problem MiB':>13}"
              f"{'peak +MiB':>11}")
        for points, path in instances:
            modes = ([False] if points <= SEARCH_POINT_LIMIT else []) + [True]
            for improve in modes:
                for build in args.build:
                    runs = [measure(build, path, improve) for _ in range(args.repeat)]
                    seconds = statistics.median(r[0] for r in runs)
                    before = max(r[1] for r in runs)
                    added = max(r[2] for r in runs)
                    note = "" if all(r[3] for r in runs) else "  (peak includes loading)"
                    mode = "improve" if improve else "search"
                    print(f"{build.label:<10}{points:>7}  {mode:<8}{seconds:>9.4f}{before:>13.1f}"
                          f"{added:>11.1f}{note}")
        with open("/proc/loadavg", encoding="ascii") as f:
            print(f"load average at the end {' '.join(f.read().split()[:3])}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
