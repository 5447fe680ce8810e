"""The service under wine: "-install" and "-uninstall" against the service
control manager, a run without arguments that gets the service started, and
the whole hourly wake-up against the local update servers (the manifest on
port 443, the packages on port 80, as the product expects them)."""

import shutil
import subprocess
import time
import unittest

from harness import PLUGIN_KEY, SCHEDULE_KEY, SERVICE_DISPLAY_NAME, WineTestCase, wait_until
from servers import ACTIVEX_PACKAGE_PATH, MANIFEST_PATH, PLUGIN_PACKAGE_PATH, SAMPLE_MANIFEST, TestPki, TransferServers

SERVICE_DESCRIPTION = (
    "This service keeps your Orrin Vexel Player installation up to date with the latest enhancements "
    "and security fixes."
)
SERVICE_WIN32_OWN_PROCESS = 0x10
SERVICE_DEMAND_START = 3
SERVICE_ERROR_NORMAL = 1
SERVICE_STOPPED = 1

# The codes the service controller writes. A management run also writes the
# scheduled task's lines (under wine's task scheduler some of its settings
# fail and are logged); those belong to the task's own scenarios.
CONTROLLER_CODES = {str(c) for c in [*range(1219, 1233), 1302, 1303, 1304, 1427, 1603, 1604, 1605, 1606]}


class ServiceScenario(WineTestCase):
    def setUp(self):
        self.prefix.reset_product_state()
        # The management run's current directory, with the log's folders, so
        # that its error lines can be read.
        self.cwd = self.prefix.drive_c / "service-test"
        shutil.rmtree(self.cwd, ignore_errors=True)
        (self.cwd / "Kestran" / "Vexel").mkdir(parents=True)

    def tearDown(self):
        self.prefix.reset_product_state()
        shutil.rmtree(self.cwd, ignore_errors=True)

    def messages(self, folder=None):
        return [line.message for line in self.prefix.read_log(folder or self.cwd)]

    def controller_messages(self):
        """The management runs' lines of the service controller."""
        return [m for m in self.messages() if m.split(" ")[0] in CONTROLLER_CODES]

    def wait_stopped(self):
        return wait_until(lambda: self.prefix.service().get("state") == SERVICE_STOPPED, timeout=60)


class Install(ServiceScenario):
    def test_install_on_a_fresh_machine_registers_the_service(self):
        program = self.prefix.install_product()
        self.assertIn(" ", program)
        self.assertEqual(self.prefix.run_product("-install", program=program, cwd=self.cwd), 0)
        service = self.prefix.service()
        self.assertEqual(service["exists"], 1)
        self.assertEqual(service["type"], SERVICE_WIN32_OWN_PROCESS)
        self.assertEqual(service["start"], SERVICE_DEMAND_START)
        self.assertEqual(service["error"], SERVICE_ERROR_NORMAL)
        self.assertEqual(service["account"], "LocalSystem")
        # Quoted: the path holds blanks.
        self.assertEqual(service["binary"], f'"{program}"')
        self.assertEqual(service["display"], SERVICE_DISPLAY_NAME)
        self.assertEqual(service["description"], SERVICE_DESCRIPTION)
        self.assertEqual(service["state"], SERVICE_STOPPED)
        # A management run writes only error lines; the controller had none.
        self.assertEqual(self.controller_messages(), [])
        self.assertTrue(all(line.level == "error" for line in self.prefix.read_log(self.cwd)))

    def test_a_path_without_blanks_is_registered_as_it_is(self):
        program = self.prefix.install_product(r"C:\VexelTools")
        self.assertEqual(self.prefix.run_product("-install", program=program, cwd=self.cwd), 0)
        self.assertEqual(self.prefix.service()["binary"], program)

    def test_install_while_registered_and_stopped_rewrites_nothing(self):
        first = self.prefix.install_product()
        self.assertEqual(self.prefix.run_product("-install", program=first, cwd=self.cwd), 0)
        self.prefix.wine(["sc", "description", "OrrinVexelPlayerUpdateSvc", "Set by an administrator"])
        second = self.prefix.install_product(r"C:\Other Place")
        self.assertEqual(self.prefix.run_product("-install", "ignored", program=second, cwd=self.cwd), 0)

        service = self.prefix.service()
        self.assertEqual(service["binary"], f'"{first}"')
        self.assertEqual(service["description"], "Set by an administrator")
        # The stop control was refused: the service does not run (1062).
        self.assertEqual(self.controller_messages(), ["1226 1062"])


class Uninstall(ServiceScenario):
    def test_uninstall_removes_a_stopped_service(self):
        program = self.prefix.install_product()
        self.assertEqual(self.prefix.run_product("-install", program=program, cwd=self.cwd), 0)
        self.assertEqual(self.prefix.service()["exists"], 1)

        self.assertEqual(self.prefix.run_product("-uninstall", program=program, cwd=self.cwd), 0)
        self.assertEqual(self.prefix.service()["exists"], 0)
        # Stopped, so the stop control was refused; it was removed all the same.
        self.assertEqual(self.controller_messages(), ["1226 1062"])

    def test_uninstall_without_the_service_asks_the_manager_nothing_more(self):
        self.assertEqual(self.prefix.run_product("-uninstall", cwd=self.cwd), 0)
        self.assertEqual(self.prefix.service()["exists"], 0)
        self.assertEqual(self.messages(), [])


class WakeUp(ServiceScenario):
    """The hourly wake-up as the scheduled task starts it: the executable
    without arguments, with the service registered and verbose logging on."""

    def setUp(self):
        super().setUp()
        self.program = self.prefix.install_product()
        self.assertEqual(self.prefix.run_product("-install", program=self.program, cwd=self.cwd), 0)
        self.prefix.product_folder().mkdir(parents=True, exist_ok=True)
        (self.prefix.product_folder() / "vxm.cfg").write_bytes(b"SilentAutoUpdateVerboseLogging=1\r\n")
        (self.wine_service_folder() / "Kestran" / "Vexel").mkdir(parents=True, exist_ok=True)
        self.prefix.log_path(self.cwd).unlink(missing_ok=True)

    def tearDown(self):
        shutil.rmtree(self.wine_service_folder() / "Kestran", ignore_errors=True)
        super().tearDown()

    def wine_service_folder(self):
        # Windows starts a service in C:\windows\system32; wine's service
        # control manager starts it in C:\windows.
        return self.prefix.drive_c / "windows"

    def service_log(self):
        """The service process's log, below its current directory."""
        lines = []
        for folder in (self.prefix.system32, self.wine_service_folder()):
            lines += self.messages(folder)
        return lines

    def test_a_run_without_arguments_gets_the_service_started(self):
        self.assertEqual(self.prefix.run_product(program=self.program, cwd=self.cwd), 0)

        # The first process: the settings lines, the dispatcher that is not
        # available (1619 with the manager's error), the start request.
        first = self.messages()
        self.assertEqual([m.split(" ")[0] for m in first], ["1614", "1616", "1618", "1619", "1604"])
        self.assertRegex(first[3], r"^1619 \d+$")
        self.assertNotIn("1620", first)

        # The second process, started by the manager as the service: its
        # current directory is the system folder. Nothing is due to a
        # service with silent mode off: the cycle's first and last lines.
        self.assertTrue(wait_until(lambda: "1620" in self.service_log(), timeout=60), self.service_log())
        self.assertEqual(self.service_log(), ["1614", "1616", "1618", "1608", "1612", "1620"])
        self.assertTrue(self.wait_stopped())

    def test_a_second_wake_up_runs_the_service_again(self):
        for _ in range(2):
            self.assertEqual(self.prefix.run_product(program=self.program, cwd=self.cwd), 0)
            self.assertTrue(wait_until(lambda: "1620" in self.service_log(), timeout=60))
            self.assertTrue(self.wait_stopped())
            self.prefix.wait_idle()
            for folder in (self.prefix.system32, self.wine_service_folder()):
                self.prefix.log_path(folder).unlink(missing_ok=True)
        self.assertEqual(self.messages().count("1604"), 2)


# File times: 100-nanosecond units since 1601.
FILETIME_UNITS_PER_SECOND = 10_000_000
FILETIME_AT_UNIX_EPOCH = 116444736000000000


def read_records(path):
    """The records the test installer appended to `path`: dicts of its lines."""
    records = []
    if not path.exists():
        return records
    for block in path.read_bytes().decode("utf-8").split("end\r\n"):
        fields = dict(line.split("=", 1) for line in block.split("\r\n") if "=" in line)
        if fields:
            records.append(fields)
    return records


class WakeUpAgainstTheUpdateServers(ServiceScenario):
    """The hourly wake-up end to end: the service registered by "-install",
    silent mode on, the installed plug-in older than the manifest's, the
    update servers serving the manifest and a signed package that carries the
    test installer."""

    SETTINGS = ["1628 localhost", "1629 localhost", "1614", "1615"]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        pki = cls.prefix.build / "test-pki"
        signer_cert, signer_key = pki / "certs" / "signer.pem", pki / "keys" / "signer.key"
        if not (signer_cert.exists() and signer_key.exists()):
            raise unittest.SkipTest("no test PKI: the fixture signed_packages made none")
        cls.root = cls.prefix.build / "service-wake-up"
        shutil.rmtree(cls.root, ignore_errors=True)
        cls.root.mkdir(parents=True)
        cls.installer = cls.root / "vexel-test-installer.exe"
        shutil.copy2(cls.prefix.tool("vexel-test-installer"), cls.installer)
        package = cls.root / "plugin.p7"
        subprocess.run(["openssl", "smime", "-sign", "-binary", "-nodetach", "-outform", "DER", "-md", "sha256",
                        "-in", str(cls.installer), "-signer", str(signer_cert), "-inkey", str(signer_key),
                        "-out", str(package)], check=True, capture_output=True, timeout=120)

        cls.pki = TestPki(cls.root / "pki")
        added = cls.prefix.run_program(cls.prefix.tool("vexel-addroot"), [cls.prefix.to_windows(cls.pki.ca_der)])
        if added != 0:
            raise AssertionError(f"vexel-addroot could not add the test authority: {added}")
        cls.servers = TransferServers(cls.root / "servers", https_port=443, http_port=80, lifetime=600, pki=cls.pki)
        cls.servers.manifest = SAMPLE_MANIFEST  # the plug-in at 11.3.300.1
        cls.servers.packages[PLUGIN_PACKAGE_PATH] = package.read_bytes()
        cls.servers.start()

    @classmethod
    def tearDownClass(cls):
        cls.servers.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.remove_installer()
        self.program = self.prefix.install_product()
        self.prefix.product_folder().mkdir(parents=True, exist_ok=True)
        (self.prefix.product_folder() / "vxm.cfg").write_bytes(
            b"SilentAutoUpdateEnable=1\r\nAutoUpdateDisable=0\r\nSilentAutoUpdateVerboseLogging=1\r\n"
            b"SilentAutoUpdateServerDomain=localhost\r\n")
        (self.service_folder() / "Kestran" / "Vexel").mkdir(parents=True, exist_ok=True)
        # The plug-in is installed at a version older than the manifest's;
        # the ActiveX control is not installed, so it is never updated.
        self.prefix.reg_set(PLUGIN_KEY, "Version", "REG_SZ", "11.2.202.228")
        self.assertEqual(self.prefix.run_product("-install", program=self.program, cwd=self.cwd), 0)
        self.prefix.log_path(self.cwd).unlink(missing_ok=True)

    def tearDown(self):
        self.prefix.wait_idle()
        self.remove_installer()
        shutil.rmtree(self.service_folder() / "Kestran", ignore_errors=True)
        super().tearDown()

    def service_folder(self):
        """The service's current directory: C:\\windows under wine (Windows
        uses C:\\windows\\system32)."""
        return self.prefix.drive_c / "windows"

    def remove_installer(self):
        for name in ("VexelPlayerInstaller.exe", "VexelPlayerInstaller.exe.record"):
            (self.service_folder() / name).unlink(missing_ok=True)

    def service_log(self):
        return self.messages(self.service_folder())

    def wake_up(self):
        """Runs the executable as the scheduled task does and waits until the
        service it got started has stopped."""
        self.assertEqual(self.prefix.run_product(program=self.program, cwd=self.cwd), 0)
        self.assertTrue(wait_until(lambda: "1620" in self.service_log(), timeout=120), self.service_log())
        self.assertTrue(self.wait_stopped())
        self.prefix.wait_idle()

    def test_a_due_wake_up_installs_the_out_of_date_plug_in(self):
        manifest_requests = len(self.servers.manifest_server.requests)
        self.wake_up()

        # The first process did not run as the service and asked for it.
        first = self.messages()
        self.assertEqual(first[:5], self.SETTINGS + ["1618"])
        self.assertRegex(first[5], r"^1619 \d+$")
        self.assertEqual(first[6:], ["1604"])

        # The service's process ran the cycle: the plug-in's download, the
        # installer started, and the end of the cycle.
        self.assertEqual(self.service_log(),
                         self.SETTINGS + ["1618", "1608", "1601", "1602", "1610", "1612", "1620"])

        # The manifest over HTTPS, then the plug-in's package over HTTP.
        self.assertEqual(self.servers.manifest_server.requests[manifest_requests:],
                         [{"method": "GET", "path": MANIFEST_PATH, "user_agent": "Get Vexel Player version xml/1.0"}])
        paths = [r["path"] for r in self.servers.package_server.requests]
        self.assertIn(PLUGIN_PACKAGE_PATH, paths)
        self.assertNotIn(ACTIVEX_PACKAGE_PATH, paths)

        # The test installer ran once, in the service's current directory,
        # with the fixed command line.
        record_file = self.service_folder() / "VexelPlayerInstaller.exe.record"
        self.assertTrue(wait_until(lambda: read_records(record_file), timeout=30))
        records = read_records(record_file)
        self.assertEqual(len(records), 1, records)
        self.assertEqual(records[0]["command line"], "VexelPlayerInstaller.exe -install -iv 9")
        self.assertEqual(records[0]["current directory"].rstrip("\\").lower(), r"c:\windows")

        # One attempt counted; the schedule left as "-install" made it, so the
        # next wake-up checks again.
        self.assertEqual(self.prefix.reg_query(SCHEDULE_KEY, "UpdateAttempts"), ("REG_DWORD", 1))
        self.assertEqual(self.prefix.reg_query(SCHEDULE_KEY, "LastUpdateCheck"), ("REG_QWORD", 0))
        self.assertEqual(self.prefix.service()["state"], SERVICE_STOPPED)

    def test_a_wake_up_with_nothing_due_touches_no_server(self):
        # Checked a moment ago, three days between checks.
        now = FILETIME_AT_UNIX_EPOCH + int(time.time()) * FILETIME_UNITS_PER_SECOND
        self.prefix.reg_set(SCHEDULE_KEY, "LastUpdateCheck", "REG_QWORD", now)
        self.prefix.reg_set(SCHEDULE_KEY, "CheckFrequency", "REG_DWORD", 3)
        requests = (len(self.servers.manifest_server.requests), len(self.servers.package_server.requests))
        self.wake_up()

        self.assertEqual(self.service_log(), self.SETTINGS + ["1618", "1608", "1612", "1620"])
        self.assertEqual((len(self.servers.manifest_server.requests), len(self.servers.package_server.requests)),
                         requests)
        self.assertFalse((self.service_folder() / "VexelPlayerInstaller.exe.record").exists())
        self.assertEqual(self.prefix.reg_query(SCHEDULE_KEY, "UpdateAttempts"), ("REG_DWORD", 0))


if __name__ == "__main__":
    unittest.main()
