"""The main job under wine, from the hourly wake-up to the installer it starts.

Started by tools/demo.sh once it has set up the machine and built the
programs; runs in a throwaway wine prefix of its own (build/demo-prefix):

 1. creates the prefix and sets the Windows version it pretends to be;
 2. publishes a release as a release engineer does, with vexel-publish: a
    signer issued by the build's development authority, the test installer
    signed into the plug-in's package, and a version manifest that names a
    newer plug-in than the one the prefix records as installed;
 3. serves them on loopback: the manifest over HTTPS on port 443, under a
    certificate for localhost from an authority the prefix is made to trust,
    and the package over HTTP on port 80;
 4. installs the executable as the runtime's installer would: copies it,
    points the configuration file at localhost with verbose logging, and runs
    "-install" and "-setSilentAutoUpdate";
 5. runs it without arguments, as the scheduled task does, and waits for the
    service that this gets started to stop;
 6. shows what happened: the installer's record of its command line, the
    requests the servers saw, the schedule values, the service and the task
    as the platform holds them, and the decoded activity logs;
 7. removes the product with "-uninstall" and then the prefix, unless --keep.

Every wait is bounded; a stage that fails says why and the demo stops with
exit code 1, cleaning up as it goes."""

import argparse
import datetime
import errno
import gc
import os
import shlex
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "windows"
HOST_BUILD = ROOT / "build" / "host"
PREFIX = ROOT / "build" / "demo-prefix"
WORK = ROOT / "build" / "demo"  # the release and the servers' files

os.environ.update(
    VEXEL_WINEPREFIX=str(PREFIX), VEXEL_BUILD_DIR=str(BUILD), VEXEL_SOURCE_DIR=str(ROOT), WINEDEBUG="-all"
)
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from harness import PLUGIN_KEY, SCHEDULE_KEY, SERVICE_NAME, TASK_NAME, Prefix, WineError, wait_until  # noqa: E402
from servers import MANIFEST_PATH, PLUGIN_PACKAGE_PATH, TestPki, TransferServers  # noqa: E402
from test_tasks import find_child, parse_job  # noqa: E402

PUBLISH = HOST_BUILD / "tools" / "publish" / "vexel-publish"
LOG_READER = HOST_BUILD / "tools" / "vexel-log"
AUTHORITY = BUILD / "development-authority"

INSTALL_FOLDER = r"C:\Program Files\Orrin\Vexel Player"
INSTALLED_PLUGIN = "11.2.202.228"
PUBLISHED_PLUGIN = "11.3.300.1"
PUBLISHED_ACTIVEX = "11.2.202.235"  # no ActiveX control is installed: it is never updated
CHECK_FREQUENCY = 2
INSTALLER_COMMAND_LINE = "VexelPlayerInstaller.exe -install -iv 9"

# The Windows versions the prefix can pretend to be: what each is, and how
# wine 8 takes the scheduled task there.
WINDOWS_VERSIONS = {
    "winxp64": ("Windows XP x64",
                "the task goes through the version-1 scheduler (mstask), which wine keeps as a .job file in "
                "C:\\windows\\tasks: the one version under which wine shows the product whole"),
    "win7": ("Windows 7",
             "the task goes through Task Scheduler 2.0, where wine 8 refuses IDailyTrigger put_Id and "
             "get_Repetition: the product logs 1282 and 1285 and registers no task"),
    "win10": ("Windows 10",
              "as win7 for the task (log lines 1282 and 1285, no task registered); the ActiveX control is never "
              "updated on Windows 8 and later"),
}

SERVICE_STATES = {1: "stopped", 2: "start pending", 3: "stop pending", 4: "running", 5: "continue pending",
                  6: "pause pending", 7: "paused"}
SERVICE_TYPES = {0x10: "own process", 0x20: "shared process"}
START_TYPES = {2: "automatic", 3: "on demand", 4: "disabled"}
ERROR_CONTROLS = {0: "ignore", 1: "normal", 2: "severe", 3: "critical"}

# Bounds of the waits (seconds).
PORT_WAIT = 600         # loopback ports 443 and 80 held by another program
SERVICE_WAIT = 180      # the service's process, from the start request to its last line
STOP_WAIT = 60          # the service reported stopped
RECORD_WAIT = 30        # the installer's record, once the service has started it
IDLE_WAIT = 120         # every wine process of the prefix ended
SERVER_LIFETIME = 1800  # the servers stop by themselves after this, whatever happens

FILETIME_UNITS_PER_SECOND = 10_000_000
FILETIME_AT_UNIX_EPOCH = 116444736000000000

# tools/demo.sh passes the time it began, so that the times shown count its
# setup and build as well.
STARTED = float(os.environ.get("VEXEL_DEMO_STARTED") or time.time())
FIRST_STAGE, TOTAL_STAGES = 3, 10  # tools/demo.sh's stages 1 and 2: setup and build


class DemoError(RuntimeError):
    pass


# ---- output ------------------------------------------------------------------


def elapsed():
    seconds = int(time.time() - STARTED)
    return f"{seconds // 60}:{seconds % 60:02}"


def stage(number, text):
    print(f"\n== [{FIRST_STAGE + number - 1}/{TOTAL_STAGES}] {text}   ({elapsed()})", flush=True)


def say(text=""):
    print(f"   {text}" if text else "", flush=True)


def show_block(text, indent="     "):
    for line in text.rstrip("\n").splitlines() or ["(empty)"]:
        print(indent + line)
    sys.stdout.flush()


def relative(path):
    try:
        return str(Path(path).relative_to(ROOT))
    except ValueError:
        return str(path)


def filetime_text(value):
    if value == 0:
        return "0 (never)"
    seconds = (value - FILETIME_AT_UNIX_EPOCH) / FILETIME_UNITS_PER_SECOND
    when = datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)
    return f"{value} ({when:%Y-%m-%d %H:%M:%S} UTC)"


# ---- host programs -------------------------------------------------------------


def run_host(args, timeout=120, check=True):
    """Runs a Linux program; shows its command line and its output."""
    print("   $ " + " ".join(shlex.quote(relative(a)) if isinstance(a, Path) else shlex.quote(str(a)) for a in args))
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=timeout)
    output = (result.stdout + result.stderr).strip()
    if output:
        show_block(output)
    if check and result.returncode != 0:
        raise DemoError(f"{Path(str(args[0])).name} exited with {result.returncode}")
    return result


# ---- the stages ----------------------------------------------------------------


def check_build():
    missing = [relative(p) for p in (BUILD / "VexelPlayerUpdateService.exe", PUBLISH, LOG_READER)
               if not p.exists()]
    missing += [relative(BUILD / "tools" / f"{t}.exe")
                for t in ("vexel-test-installer", "vexel-exitcode", "vexel-svcquery", "vexel-addroot")
                if not (BUILD / "tools" / f"{t}.exe").exists()]
    if missing:
        raise DemoError("not built: " + ", ".join(missing) + " (tools/demo.sh builds them)")
    if not (AUTHORITY / "authority.key").exists():
        raise DemoError(
            f"{relative(AUTHORITY)} holds no development authority: this build embeds an authority given with "
            "-DVEXEL_CA_CERTIFICATE_DER, whose key the demo does not have. Run the demo on a build without it.")


def create_prefix(prefix, windows_version):
    say(f"wineboot in {relative(PREFIX)} (a minute or so the first time)")
    prefix.create()
    prefix.set_windows_version(windows_version)
    shown = prefix.wine(["winecfg", "/v"]).stdout.decode(errors="replace").strip()
    name, note = WINDOWS_VERSIONS[windows_version]
    say(f"Windows version: {shown} ({name}; --windows-version chooses another)")
    say(f"  {note}")


def publish_release(release):
    """The release as a release engineer makes it; returns (package, manifest)."""
    shutil.rmtree(release, ignore_errors=True)
    release.mkdir(parents=True)
    installer = release / "vexel-test-installer.exe"
    shutil.copy2(BUILD / "tools" / "vexel-test-installer.exe", installer)
    signer, signer_key = release / "signer.pem", release / "signer.key"
    package, manifest = release / "install_all_win_pl_sgn.z", release / "version.xml"
    say("The sample runtime installer is the test installer: it records its command line and current")
    say("directory beside itself and exits. A signer under the Windows build's development authority:")
    run_host([PUBLISH, "new-signer", "--issuer", AUTHORITY / "authority.pem", "--issuer-key", AUTHORITY / "authority.key",
              "--cert", signer, "--key", signer_key, "--days", "30"])
    say()
    say("The installer signed into the plug-in's package, checked against that authority before it is written:")
    run_host([PUBLISH, "sign", installer, "--signer", signer, "--key", signer_key,
              "--authority", AUTHORITY / "authority.der", "--out", package])
    run_host([PUBLISH, "verify", package, "--authority", AUTHORITY / "authority.der"])
    say()
    say(f"The manifest: the plug-in at {PUBLISHED_PLUGIN}, newer than the {INSTALLED_PLUGIN} the prefix will record:")
    run_host([PUBLISH, "manifest", "--activex", PUBLISHED_ACTIVEX, "--plugin", PUBLISHED_PLUGIN,
              "--check-frequency", str(CHECK_FREQUENCY), "--out", manifest])
    run_host([PUBLISH, "check-manifest", manifest])
    return package, manifest


def ports_free(ports):
    for port in ports:
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind(("127.0.0.1", port))
            except OSError as e:
                if e.errno in (errno.EADDRINUSE, errno.EACCES):
                    return False, f"port {port}: {e.strerror}"
                raise
    return True, ""


def start_servers(prefix, package, manifest):
    pki = TestPki(WORK / "server-pki")
    say("A test authority and a certificate for localhost from it, made with openssl; the prefix is told to")
    say("trust that authority (tools/wine/addroot.c adds it to the prefix's Root store):")
    added = prefix.run_program(prefix.tool("vexel-addroot"), [prefix.to_windows(pki.ca_der)])
    if added != 0:
        raise DemoError(f"vexel-addroot could not add the authority to the prefix's Root store: error {added}")
    say(f"added {relative(pki.ca_der)} (CN=Vexel Transfer Test Authority)")

    deadline = time.monotonic() + PORT_WAIT
    while True:
        free, why = ports_free((443, 80))
        if free:
            try:
                servers = TransferServers(WORK / "servers", https_port=443, http_port=80, lifetime=SERVER_LIFETIME,
                                          pki=pki)
                break
            except OSError as e:
                why = str(e)
                gc.collect()  # closes a server of the pair that did bind
        if time.monotonic() > deadline:
            raise DemoError(f"ports 443 and 80 stayed in use for {PORT_WAIT} s ({why})")
        say(f"{why} (another program's servers?): trying again in 10 s, for at most {PORT_WAIT // 60} minutes")
        time.sleep(10)
    servers.manifest = manifest.read_bytes()
    servers.packages[PLUGIN_PACKAGE_PATH] = package.read_bytes()
    servers.start()
    say(f"https://localhost{MANIFEST_PATH}")
    say(f"http://localhost{PLUGIN_PACKAGE_PATH}")

    # The same fetch from Linux, trusting only the test authority.
    context = ssl.create_default_context(cafile=str(pki.ca_pem))
    with urllib.request.urlopen(f"https://localhost{MANIFEST_PATH}", context=context, timeout=30) as response:
        body = response.read()
    say(f"check from Linux: the manifest answers {response.status} with {len(body)} bytes over TLS")
    servers.manifest_server.requests.clear()
    return servers


def install_product(prefix, cwd):
    program = prefix.install_product(INSTALL_FOLDER)
    say(f"copied the executable to {program}")

    config = prefix.product_folder() / "vxm.cfg"
    config.parent.mkdir(parents=True, exist_ok=True)
    config.write_bytes(b"SilentAutoUpdateServerDomain=localhost\r\nSilentAutoUpdateVerboseLogging=1\r\n")
    say(f"configuration file {prefix.to_windows(config)} (on disk {relative(config)}):")
    show_block(config.read_text())
    say("  (the build's own hosts lie under .example; the server domain replaces both)")

    prefix.reg_set(PLUGIN_KEY, "Version", "REG_SZ", INSTALLED_PLUGIN)
    say(f"installed plug-in: {PLUGIN_KEY} \"Version\" = {INSTALLED_PLUGIN} (32-bit view)")

    # The log of a management run lies below its current directory; the
    # service's below its own, which wine's service manager makes C:\windows
    # (Windows: C:\windows\system32, where the configuration file's folder is).
    (cwd / "Kestran" / "Vexel").mkdir(parents=True, exist_ok=True)
    (prefix.drive_c / "windows" / "Kestran" / "Vexel").mkdir(parents=True, exist_ok=True)

    for option in ("-install", "-setSilentAutoUpdate"):
        code = prefix.run_product(option, program=program, cwd=cwd)
        say(f"{program} {option}   -> exit code {code}")
        wait_idle(prefix)
    say("configuration file now:")
    show_block(config.read_text())
    show_schedule(prefix, "schedule values after -install")
    return program


def wait_idle(prefix):
    try:
        prefix.wait_idle(timeout=IDLE_WAIT)
    except subprocess.TimeoutExpired:
        say(f"(wine processes of the prefix still running after {IDLE_WAIT} s; going on)")


def service_log_folder(prefix):
    return prefix.drive_c / "windows"


def wake_up(prefix, program, cwd):
    say(f"{program}   (no arguments, as the scheduled task starts it)")
    began = time.monotonic()
    code = prefix.run_product(program=program, cwd=cwd)
    took = time.monotonic() - began
    codes = [line.code for line in read_log_quietly(prefix, cwd)]
    say(f"-> exit code {code} after {took:.0f} s")
    if "1619" in codes and "1604" in codes:
        say("   not started by the service control manager (log line 1619), it asked the manager to start the")
        say("   service (1604), which runs the executable again, this time as the service")
        if took >= 8:
            say("   (wine's service dispatcher waits about 10 s for the manager before it gives up)")
    else:
        raise DemoError("the run without arguments asked for no service start: its log has no line 1604")

    def service_done():
        return any(line.code == "1620" for line in read_log_quietly(prefix, service_log_folder(prefix)))

    say(f"waiting for the service's process to end (at most {SERVICE_WAIT} s) ...")
    if not wait_until(service_done, timeout=SERVICE_WAIT, interval=1):
        raise DemoError(f"the service wrote no end line (1620) within {SERVICE_WAIT} s")
    if not wait_until(lambda: prefix.service().get("state") == 1, timeout=STOP_WAIT, interval=1):
        raise DemoError(f"the service did not report stopped within {STOP_WAIT} s")
    say("the service has stopped")


def read_log_quietly(prefix, folder):
    """The lines of a log, or none while its last line is still being written."""
    try:
        return prefix.read_log(folder)
    except AssertionError:
        return []


def read_records(path):
    records = []
    if path.exists():
        for block in path.read_bytes().decode("utf-8", errors="replace").split("end\r\n"):
            fields = dict(line.split("=", 1) for line in block.split("\r\n") if "=" in line)
            if fields:
                records.append(fields)
    return records


def show_installer(prefix):
    record_file = service_log_folder(prefix) / "VexelPlayerInstaller.exe.record"
    records = wait_until(lambda: read_records(record_file), timeout=RECORD_WAIT, interval=0.5)
    wait_idle(prefix)
    if not records:
        say(f"no installer ran: {prefix.to_windows(record_file)} was not written")
        return False
    say(f"the installer's record ({prefix.to_windows(record_file)}):")
    for record in records:
        for key in ("program", "command line", "current directory"):
            say(f"  {key + ':':19} {record.get(key, '?')}")
    return any(r.get("command line") == INSTALLER_COMMAND_LINE for r in records)


def show_requests(servers):
    say("requests the servers answered:")
    for name, server in (("HTTPS :443", servers.manifest_server), ("HTTP  :80 ", servers.package_server)):
        for request in server.requests:
            say(f"  {name} {request['method']} {request['path']}   User-Agent: {request['user_agent']}")
        if not server.requests:
            say(f"  {name} none")


def show_schedule(prefix, title):
    values = prefix.reg_values(SCHEDULE_KEY)
    say(f"{title} ({SCHEDULE_KEY}, 32-bit view):")
    if not values:
        say("  (no key: none of the three values)")
        return
    for name in ("LastUpdateCheck", "CheckFrequency", "UpdateAttempts"):
        if name not in values:
            say(f"  {name:16} (missing)")
            continue
        kind, data = values[name]
        text = filetime_text(data) if name == "LastUpdateCheck" and isinstance(data, int) else str(data)
        say(f"  {name:16} {kind:10} {text}")


def show_service(prefix):
    info = prefix.service(SERVICE_NAME)
    say(f"service {SERVICE_NAME}, as the service control manager holds it (vexel-svcquery):")
    if not info.get("exists"):
        say("  not registered")
        return
    say(f"  state        {SERVICE_STATES.get(info.get('state'), info.get('state'))}")
    say(f"  type         {SERVICE_TYPES.get(info.get('type'), info.get('type'))}")
    say(f"  start        {START_TYPES.get(info.get('start'), info.get('start'))}")
    say(f"  errors       {ERROR_CONTROLS.get(info.get('error'), info.get('error'))}")
    for key in ("binary", "display", "account", "description"):
        say(f"  {key:12} {info.get(key, '')}")


def v1_task_file(prefix):
    folder = find_child(prefix.drive_c / "windows", "tasks")
    return find_child(folder, TASK_NAME + ".job") if folder else None


def v2_task_file(prefix):
    folder = find_child(prefix.drive_c / "windows" / "system32", "tasks")
    return find_child(folder, TASK_NAME) if folder else None


def show_task(prefix, windows_version):
    job = v1_task_file(prefix)
    say(f"scheduled task \"{TASK_NAME}\":")
    if job is None:
        say("  version 1 (mstask): no work item in C:\\windows\\tasks")
    else:
        item = parse_job(job.read_bytes())
        say(f"  version 1 (mstask) work item, as wine stores it: {prefix.to_windows(job)}")
        say(f"    application    {item['application']}")
        say(f"    parameters     {item['parameters'] or '(none)'}")
        say(f"    working folder {item['workingDirectory'] or '(none)'}")
        say(f"    creator        {item['creator'] or '(none)'}")
        comment = item["comment"]
        say(f"    comment        {comment[:72] + '...' if len(comment) > 75 else comment}")
        for t in item["triggers"]:
            say(f"    trigger        daily every {t['daysInterval']} day(s) from "
                f"{t['beginYear']:04}-{t['beginMonth']:02}-{t['beginDay']:02} {t['startHour']:02}:{t['startMinute']:02}, "
                f"repeated every {t['minutesInterval']} minutes for {t['minutesDuration']} minutes")
    v2 = v2_task_file(prefix)
    if v2 is None:
        say("  version 2 (Task Scheduler 2.0): none registered in C:\\windows\\system32\\tasks")
    else:
        say(f"  version 2 (Task Scheduler 2.0) definition: {prefix.to_windows(v2)} ({v2.stat().st_size} bytes)")
    if job is None and v2 is None:
        name, note = WINDOWS_VERSIONS[windows_version]
        say(f"  ({name} under wine 8: {note})")


def show_log(prefix, folder, title):
    path = prefix.log_path(folder)
    say(f"{title}: {prefix.to_windows(path)}")
    if not path.exists():
        say("  (no log: nothing was written)")
        return
    result = subprocess.run([str(LOG_READER), str(path)], capture_output=True, text=True, timeout=60)
    show_block((result.stdout + result.stderr) or "(empty)")


def show_logs(prefix, cwd):
    say("Each process writes below its current folder. The management runs (-install, -setSilentAutoUpdate)")
    say("write error lines only; the wake-up's first process, started in the same folder, had verbose")
    say("logging on from the configuration file, so its information lines are there too.")
    show_log(prefix, cwd, "the log of the runs started by hand")
    say()
    show_log(prefix, service_log_folder(prefix), "the service's log (below its current folder, C:\\windows under wine)")


def uninstall(prefix, program, cwd):
    code = prefix.run_product("-uninstall", program=program, cwd=cwd)
    say(f"{program} -uninstall   -> exit code {code}")
    wait_idle(prefix)
    show_service(prefix)
    say(f"scheduled task: {'still there' if v1_task_file(prefix) or v2_task_file(prefix) else 'gone'}")
    show_schedule(prefix, "schedule values")


# ---- the run -------------------------------------------------------------------


def parse(argv):
    parser = argparse.ArgumentParser(prog="tools/demo.sh", description=__doc__.split("\n\n")[0])
    parser.add_argument("--keep", action="store_true",
                        help="leave the product installed and keep the prefix in build/demo-prefix")
    parser.add_argument("--windows-version", choices=sorted(WINDOWS_VERSIONS), default="winxp64",
                        help="the Windows version the prefix pretends to be (default winxp64, the only one under "
                             "which wine 8 stores the scheduled task)")
    return parser.parse_args(argv)


def stop_requested(signum, frame):
    # A stop request ends the demo through its clean-up, as Ctrl+C does.
    raise KeyboardInterrupt


def main(argv):
    if argv[:1] == ["--check-arguments"]:
        # tools/demo.sh, before it builds: 0 go on, 10 the help was shown,
        # 2 wrong arguments (told on the standard error).
        try:
            parse(argv[1:])
        except SystemExit as e:
            return 10 if e.code == 0 else e.code
        return 0
    args = parse(argv)
    signal.signal(signal.SIGTERM, stop_requested)
    prefix = Prefix()
    servers = None
    cwd = prefix.drive_c / "vexel-demo"
    ok = False
    product_started = logs_shown = False
    try:
        check_build()
        shutil.rmtree(WORK, ignore_errors=True)
        WORK.mkdir(parents=True)

        stage(1, f"creating a throwaway wine prefix, {relative(PREFIX)}")
        create_prefix(prefix, args.windows_version)

        stage(2, "publishing a release with the toolkit (vexel-publish, the Linux build)")
        package, manifest = publish_release(WORK / "release")

        stage(3, "starting the update servers on loopback (tests/e2e/servers.py)")
        servers = start_servers(prefix, package, manifest)

        stage(4, "installing the updater as the runtime's installer would")
        product_started = True
        program = install_product(prefix, cwd)

        stage(5, "the hourly wake-up: the executable without arguments")
        wake_up(prefix, program, cwd)

        stage(6, "what the wake-up did")
        ran = show_installer(prefix)
        say()
        show_requests(servers)
        say()
        show_schedule(prefix, "schedule values after the wake-up")
        if ran:
            say("  (an installer was started, so the schedule is left as it was: the next wake-up checks again)")
        say()
        show_service(prefix)
        say()
        show_task(prefix, args.windows_version)

        stage(7, "the activity logs, decoded (vexel-log, the Linux build)")
        show_logs(prefix, cwd)
        logs_shown = True

        if args.keep:
            stage(8, "keeping the product and the prefix (--keep)")
            say(f"prefix: {PREFIX}   (WINEPREFIX={PREFIX} wine ...)")
            say(f"release and server files: {WORK}")
        else:
            stage(8, "removing everything: -uninstall, then the prefix")
            uninstall(prefix, program, cwd)
        ok = ran
        if not ran:
            raise DemoError(f"the installer did not run with \"{INSTALLER_COMMAND_LINE}\"")
    except (DemoError, WineError, subprocess.SubprocessError, OSError) as e:
        print(f"\ndemo: FAILED: {e}", file=sys.stderr)
        if product_started and not logs_shown:
            print("   what the activity logs hold:")
            try:
                show_logs(prefix, cwd)
            except (WineError, subprocess.SubprocessError, OSError):
                pass
    except KeyboardInterrupt:
        print("\ndemo: interrupted", file=sys.stderr)
    finally:
        if servers is not None:
            servers.stop()
        try:
            prefix.shutdown()
        except subprocess.SubprocessError:
            pass
        if not args.keep:
            shutil.rmtree(PREFIX, ignore_errors=True)
            shutil.rmtree(WORK, ignore_errors=True)
            print(f"   removed {relative(PREFIX)} and {relative(WORK)}")
        elif not ok:
            print(f"   kept {relative(PREFIX)} and {relative(WORK)} (--keep)")
    if ok:
        print(f"\n== done in {elapsed()}: the updater fetched the manifest, downloaded and "
              f"verified the plug-in's package and started its installer as \"{INSTALLER_COMMAND_LINE}\"")
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
