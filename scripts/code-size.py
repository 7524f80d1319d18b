#!/usr/bin/env python3
"""Non-blank, non-comment C++ lines of the tracked sources: the code (everything outside tests/,
fuzz/ and bench/), tests/ and fuzz/, and the ratio of the tests to the code."""
import subprocess
import sys


def lines(path):
    count, in_block = 0, False
    with open(path, errors="replace") as f:
        for raw in f:
            s = raw.strip()
            if in_block:
                if "*/" not in s:
                    continue
                in_block, s = False, s.split("*/", 1)[1].strip()
            if not s or s.startswith("//"):
                continue
            if s.startswith("/*"):
                in_block = "*/" not in s
                continue
            count += 1
    return count


def main():
    files = subprocess.check_output(["git", "ls-files", "*.cpp", "*.h"], text=True).split()
    size = {"code": 0, "tests": 0, "fuzz": 0, "bench": 0}
    for path in files:
        top = path.split("/", 1)[0]
        size[top if top in size else "code"] += lines(path)
    code = size["code"]
    print(f"code {code}, tests {size['tests']} ({size['tests'] / code:.2f}), fuzz {size['fuzz']}, "
          f"tests and fuzz {(size['tests'] + size['fuzz']) / code:.2f}, bench {size['bench']}")


if __name__ == "__main__":
    sys.exit(main())
