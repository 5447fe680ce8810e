"""Harness for running the Windows build under wine.

Every wine test of a run shares one throwaway prefix, created by
``prefix.py create`` (the CTest fixture "wineprefix") under the Windows build
tree and shut down by ``prefix.py shutdown``. Scenarios read what the program
leaves behind: the activity log, the registry, the configuration file, the
service and the scheduled task.

Environment (set by CTest, see cmake/WineTests.cmake):
  VEXEL_WINEPREFIX   the prefix
  VEXEL_BUILD_DIR    the Windows build tree
  VEXEL_SOURCE_DIR   the source tree
"""

import os
import re
import shutil
import subprocess
import time
import unittest
from dataclasses import dataclass
from pathlib import Path

SERVICE_NAME = "OrrinVexelPlayerUpdateSvc"
SERVICE_DISPLAY_NAME = "Orrin Vexel Player Update Service"
TASK_NAME = "Orrin Vexel Player Updater"
SCHEDULE_KEY = r"HKLM\SOFTWARE\Kestrania\VexelPlayer"
ACTIVEX_KEY = r"HKLM\Software\Kestrania\VexelPlayerActiveX"
PLUGIN_KEY = r"HKLM\Software\Kestrania\VexelPlayerPlugin"
EXIT_SILENT_UPDATE_ENABLED = 1001

# Wine commands are bounded: nothing a scenario runs may hang the test run.
DEFAULT_TIMEOUT = 120


def _env_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(f"{name} is not set: run the wine tests through ctest --preset windows")
    return Path(value)


class WineError(RuntimeError):
    pass


@dataclass
class LogLine:
    year: int
    month: int
    day: int
    hour: int
    minute: int
    second: int
    milliseconds: int
    level: str
    message: str

    @property
    def code(self):
        """The message's first word: the code, or the whole text of a text line."""
        return self.message.split(" ", 1)[0]


_LOG_LINE = re.compile(
    r"^(\d+)-(\d+)-(\d+)\+(\d+)-(\d+)-(\d+)\.(\d+) \[(info|warning|error)\] (.*)$", re.DOTALL
)


def parse_log(data):
    """Decodes the bytes of an activity log into LogLines. Raises on a line
    that does not have the log's layout, and on a byte-order mark."""
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        raise AssertionError("the activity log starts with a byte-order mark")
    if len(data) % 2:
        raise AssertionError("the activity log has an odd number of bytes")
    text = data.decode("utf-16-le")
    if text and not text.endswith("\r\n"):
        raise AssertionError("the activity log's last line is not complete")
    lines = []
    for raw in text.split("\r\n")[:-1]:
        m = _LOG_LINE.match(raw)
        if not m:
            raise AssertionError(f"not an activity log line: {raw!r}")
        nums = [int(g) for g in m.groups()[:7]]
        lines.append(LogLine(*nums, level=m.group(8), message=m.group(9)))
    return lines


class Prefix:
    """The run's wine prefix and the programs of the Windows build."""

    def __init__(self):
        self.path = _env_path("VEXEL_WINEPREFIX")
        self.build = _env_path("VEXEL_BUILD_DIR")
        self.source = _env_path("VEXEL_SOURCE_DIR")
        self.env = dict(os.environ)
        self.env["WINEPREFIX"] = str(self.path)
        self.env.setdefault("WINEDEBUG", "-all")
        # No desktop integration, no Mono or Gecko prompts.
        self.env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
        self.env.pop("DISPLAY", None)

    # ---- the prefix itself ----------------------------------------------

    def create(self):
        if self.path.exists():
            subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
            shutil.rmtree(self.path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self._run(["wineboot", "-i"], timeout=300)
        self.wait_idle()
        if not self.system32.is_dir():
            raise WineError(f"the prefix has no 32-bit system folder at {self.system32}")

    def shutdown(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)

    def wait_idle(self, timeout=120):
        """Waits until every wine process of the prefix has ended."""
        self._run(["wineserver", "-w"], timeout=timeout)

    def set_windows_version(self, version):
        """winxp64, win7 or win10."""
        self._run(["wine", "winecfg", "/v", version])
        self.wait_idle()

    # ---- paths ----------------------------------------------------------

    @property
    def drive_c(self):
        return self.path / "drive_c"

    @property
    def system32(self):
        """C:\\windows\\system32 as a 32-bit program sees it."""
        return self.drive_c / "windows" / "syswow64"

    def to_unix(self, windows_path):
        p = windows_path.replace("\\", "/")
        drive, rest = p[0].lower(), p[2:].lstrip("/")
        if drive == "c":
            return self.drive_c / rest
        if drive == "z":
            return Path("/") / rest
        raise ValueError(f"no mapping for drive {drive}: {windows_path}")

    def to_windows(self, unix_path):
        p = Path(unix_path).resolve()
        try:
            rel = p.relative_to(self.drive_c.resolve())
            return "C:\\" + str(rel).replace("/", "\\") if str(rel) != "." else "C:\\"
        except ValueError:
            return "Z:" + str(p).replace("/", "\\")

    @property
    def product(self):
        return self.build / "VexelPlayerUpdateService.exe"

    def tool(self, name):
        return self.build / "tools" / f"{name}.exe"

    def install_product(self, windows_folder=r"C:\Program Files\Orrin\Vexel Player"):
        """Copies the executable into the prefix; returns its Windows path."""
        folder = self.to_unix(windows_folder)
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.product, folder / self.product.name)
        return windows_folder.rstrip("\\") + "\\" + self.product.name

    # ---- running programs -----------------------------------------------

    def _run(self, args, cwd=None, timeout=DEFAULT_TIMEOUT, check=True, input=None):
        result = subprocess.run(
            args, env=self.env, cwd=cwd, capture_output=True, timeout=timeout, input=input
        )
        if check and result.returncode != 0:
            raise WineError(
                f"{args} exited {result.returncode}\n{result.stdout.decode(errors='replace')}"
                f"\n{result.stderr.decode(errors='replace')}"
            )
        return result

    def wine(self, args, cwd=None, timeout=DEFAULT_TIMEOUT, check=True):
        return self._run(["wine", *[str(a) for a in args]], cwd=cwd, timeout=timeout, check=check)

    def run_program(self, program, args=(), cwd=None, timeout=DEFAULT_TIMEOUT):
        """Runs a Windows program and returns its full 32-bit exit code as a
        signed number. `program` is a Windows path or a path on the host;
        `cwd` a host folder (inside drive_c it is seen as C:\\...)."""
        result = self._run(
            ["wine", str(self.tool("vexel-exitcode")), str(program), *[str(a) for a in args]],
            cwd=cwd,
            timeout=timeout,
        )
        lines = result.stdout.decode(errors="replace").strip().splitlines()
        if not lines:
            raise WineError(f"no exit code from {program}: {result.stderr.decode(errors='replace')}")
        return int(lines[-1])

    def run_product(self, *args, cwd=None, program=None, timeout=DEFAULT_TIMEOUT):
        """Runs VexelPlayerUpdateService.exe with the arguments; returns its
        exit code. By default the executable of the build tree is run."""
        return self.run_program(program or self.product, args, cwd=cwd, timeout=timeout)

    # ---- the activity log -----------------------------------------------

    @staticmethod
    def log_path(folder):
        return Path(folder) / "Kestran" / "Vexel" / "VexelInstall.log"

    def read_log(self, folder):
        """The LogLines of the activity log below `folder` (a host path):
        the run's current directory, or the system folder for the service."""
        path = self.log_path(folder)
        return parse_log(path.read_bytes()) if path.exists() else []

    # ---- the registry, 32-bit view ----------------------------------------

    def _reg(self, args, check=True):
        # The 32-bit reg.exe sees the 32-bit view, as the product does.
        return self.wine([r"C:\windows\syswow64\reg.exe", *args], check=check)

    # Values go through "reg export" and "reg import": wine's reg query
    # cannot show a REG_QWORD, and an exported file states every type exactly.
    _TYPE_NAMES = {1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD", 7: "REG_MULTI_SZ", 11: "REG_QWORD"}

    def _reg_file(self, name):
        folder = self.drive_c / "vexel-harness"
        folder.mkdir(exist_ok=True)
        return folder / name

    @staticmethod
    def _reg_quote(text):
        return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'

    def reg_values(self, key):
        """Every value of a key as {name: (type, data)}; {} when the key is
        missing. REG_DWORD and REG_QWORD data are ints, REG_SZ str, any other
        type bytes (its type name, or the number for an unnamed type)."""
        path = self._reg_file("export.reg")
        path.unlink(missing_ok=True)
        if self._reg(["export", key, self.to_windows(path), "/y"], check=False).returncode != 0:
            return {}
        text = path.read_bytes().decode("utf-16")
        # Continuation lines end in a backslash.
        text = re.sub(r"\\\r?\n\s*", "", text)
        values = {}
        for line in text.splitlines():
            m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line.strip())
            if not m:
                continue
            name = re.sub(r"\\(.)", r"\1", m.group(1))
            raw = m.group(2)
            if raw.startswith('"'):
                values[name] = ("REG_SZ", re.sub(r"\\(.)", r"\1", raw[1:-1]))
            elif raw.startswith("dword:"):
                values[name] = ("REG_DWORD", int(raw[6:], 16))
            else:
                hm = re.match(r"^hex(?:\((\w+)\))?:(.*)$", raw)
                if not hm:
                    continue
                kind = int(hm.group(1), 16) if hm.group(1) else 3
                data = bytes(int(b, 16) for b in hm.group(2).split(",") if b)
                if kind == 11 and len(data) == 8:
                    values[name] = ("REG_QWORD", int.from_bytes(data, "little"))
                else:
                    values[name] = (self._TYPE_NAMES.get(kind, kind), data)
        return values

    def reg_query(self, key, value):
        """(type, data) of a value as reg_values gives it, or None when missing."""
        return self.reg_values(key).get(value)

    def reg_set(self, key, value, kind, data):
        """Writes a value of any type and size. `kind` is a type name or a
        number; `data` an int for REG_DWORD and REG_QWORD, a str for REG_SZ,
        bytes for everything else (any length: a 4-byte REG_QWORD included)."""
        numbers = {v: k for k, v in self._TYPE_NAMES.items()}
        kind_number = numbers[kind] if isinstance(kind, str) else int(kind)
        if isinstance(data, int):
            data = data.to_bytes(8 if kind_number == 11 else 4, "little")
        if isinstance(data, str):
            text = self._reg_quote(data)
        elif kind_number == 4 and len(data) == 4:
            text = "dword:%08x" % int.from_bytes(data, "little")
        else:
            text = "hex(%x):" % kind_number + ",".join("%02x" % b for b in data)
        body = "Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n%s=%s\r\n" % (
            key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\", 1), self._reg_quote(value), text)
        path = self._reg_file("import.reg")
        path.write_bytes(b"\xff\xfe" + body.encode("utf-16-le"))
        self._reg(["import", self.to_windows(path)])

    def reg_delete_key(self, key):
        self._reg(["delete", key, "/f"], check=False)

    def reg_delete_value(self, key, value):
        self._reg(["delete", key, "/v", value, "/f"], check=False)

    # ---- the service -----------------------------------------------------

    def service(self, name=SERVICE_NAME):
        """What the service control manager holds for the service: a dict
        with exists, state, type, start, error, binary, display, account and
        description (ints where numeric)."""
        out = self.run_tool_text("vexel-svcquery", [name])
        info = {}
        for line in out.splitlines():
            if "=" in line:
                k, v = line.split("=", 1)
                info[k] = int(v) if v.isdigit() and k not in ("binary", "display", "description", "account") else v
        return info

    def delete_service(self, name=SERVICE_NAME):
        self.wine(["sc", "stop", name], check=False)
        self.wine(["sc", "delete", name], check=False)

    def run_tool_text(self, tool, args=(), timeout=DEFAULT_TIMEOUT):
        r = self._run(["wine", str(self.tool(tool)), *[str(a) for a in args]], timeout=timeout)
        return r.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")

    # ---- product state ---------------------------------------------------

    def product_folder(self):
        """Kestran\\Vexel in the system folder: configuration file and the
        service's activity log."""
        return self.system32 / "Kestran" / "Vexel"

    def reset_product_state(self):
        """Removes what the product leaves behind in the prefix, so that a
        scenario starts from a machine without it."""
        self.delete_service()
        shutil.rmtree(self.system32 / "Kestran", ignore_errors=True)
        for key in (SCHEDULE_KEY, ACTIVEX_KEY, PLUGIN_KEY):
            self.reg_delete_key(key)
        # Wine keeps version-1 work items in windows\tasks.
        for folder in ("tasks", "Tasks"):
            job = self.drive_c / "windows" / folder / f"{TASK_NAME}.job"
            if job.exists():
                job.unlink()


def wait_until(predicate, timeout=60, interval=0.5):
    """Polls until predicate() is true; returns its last value."""
    deadline = time.monotonic() + timeout
    value = predicate()
    while not value and time.monotonic() < deadline:
        time.sleep(interval)
        value = predicate()
    return value


class WineTestCase(unittest.TestCase):
    """Base of the wine scenarios: one Prefix per test class."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = Prefix()
        if not (cls.prefix.path / "system.reg").exists():
            raise unittest.SkipTest("the wine prefix has not been created (fixture wineprefix)")
