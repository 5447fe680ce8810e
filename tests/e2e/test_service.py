"""The service under wine: "-install" and "-uninstall" against the service
control manager, and a run without arguments that gets the service started."""

import shutil
import unittest

from harness import SERVICE_DISPLAY_NAME, WineTestCase, wait_until

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


if __name__ == "__main__":
    unittest.main()
