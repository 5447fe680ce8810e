"""Runs the Windows executable under wine in a fresh prefix and shows what it
does: the options, their exit codes and the activity log. Started by
tools/demo.sh, which builds the executable first."""

import os
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "windows"
PREFIX = ROOT / "build" / "demo-prefix"

os.environ.update(
    VEXEL_WINEPREFIX=str(PREFIX), VEXEL_BUILD_DIR=str(BUILD), VEXEL_SOURCE_DIR=str(ROOT), WINEDEBUG="-all"
)
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from harness import Prefix  # noqa: E402


def stage(text):
    print(f"\n== {text}", flush=True)


def main(argv):
    keep = "--keep" in argv
    prefix = Prefix()
    stage(f"creating a throwaway wine prefix in {PREFIX}")
    prefix.create()

    stage("installing the executable under C:\\Program Files\\Orrin\\Vexel Player")
    exe = prefix.install_product()
    print(exe)

    # The log of a management run lies below its current directory.
    workdir = prefix.drive_c / "demo"
    (workdir / "Kestran" / "Vexel").mkdir(parents=True, exist_ok=True)
    prefix.product_folder().mkdir(parents=True, exist_ok=True)

    for args in (["-isSAUEnabled"], ["-setSilentAutoUpdate"], ["-isSAUEnabled"], ["-setNotifyAutoUpdate"],
                 ["-isSAUEnabled"], ["-unknownOption"], []):
        stage(f"running VexelPlayerUpdateService.exe {' '.join(args)}".rstrip())
        code = prefix.run_product(*args, cwd=workdir, program=exe)
        print(f"exit code {code}")

    config = prefix.product_folder() / "vxm.cfg"
    stage(f"configuration file {prefix.to_windows(config)}")
    print(config.read_bytes().decode("utf-8", errors="replace") if config.exists() else "(none)")

    stage("activity log lines")
    for folder in (workdir, prefix.system32):
        for line in prefix.read_log(folder):
            print(f"{line.year}-{line.month:02}-{line.day:02} {line.hour:02}:{line.minute:02}:{line.second:02}"
                  f".{line.milliseconds:03} {line.level:7} {line.message}")

    prefix.shutdown()
    if keep:
        stage(f"prefix kept in {PREFIX}")
    else:
        stage("removing the prefix")
        shutil.rmtree(PREFIX, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
