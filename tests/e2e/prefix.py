"""The wine prefix of one test run.

  prefix.py create          make a fresh prefix (the fixture "wineprefix")
  prefix.py shutdown        end every wine process of the prefix
  prefix.py run-gtest EXE   run a cross-compiled GoogleTest program in it
"""

import subprocess
import sys

from harness import Prefix


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    prefix = Prefix()
    command = argv[1]
    if command == "create":
        prefix.create()
        print(f"wine prefix ready: {prefix.path}")
        return 0
    if command == "shutdown":
        prefix.shutdown()
        return 0
    if command == "run-gtest" and len(argv) >= 3:
        result = subprocess.run(["wine", *argv[2:]], env=prefix.env, timeout=900)
        return result.returncode
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
