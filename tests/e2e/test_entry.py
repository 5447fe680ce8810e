"""The program entry under wine: options, near-misses and the start lines."""

import shutil
import unittest

from harness import WineTestCase


class CommandLine(WineTestCase):
    def setUp(self):
        self.prefix.reset_product_state()
        # A run's current directory with the log folder present, so that any
        # line the run wrote would be found.
        self.cwd = self.prefix.drive_c / "entry-test"
        shutil.rmtree(self.cwd, ignore_errors=True)
        (self.cwd / "Kestran" / "Vexel").mkdir(parents=True)
        # Verbose logging on in the administrators' configuration: still no
        # management run writes an information line.
        self.prefix.product_folder().mkdir(parents=True)
        (self.prefix.product_folder() / "vxm.cfg").write_bytes(b"SilentAutoUpdateVerboseLogging=1\r\n")

    def tearDown(self):
        shutil.rmtree(self.cwd, ignore_errors=True)
        self.prefix.reset_product_state()

    def assert_nothing_logged(self):
        self.assertEqual(self.prefix.read_log(self.cwd), [])
        self.assertFalse(self.prefix.log_path(self.cwd).exists())

    def test_unknown_options_and_near_misses_do_nothing(self):
        cases = [
            "-Install", "/install", "install", "-INSTALL", "-install ", " -install", "--install",
            "-isSAUenabled", "-setsilentautoupdate", "-deletetask", "-", "", "-unknown",
            "-\u00e4\u4e2d\U0001F600", "x" * 20000,
        ]
        for argument in cases:
            with self.subTest(argument=argument[:40]):
                self.assertEqual(self.prefix.run_product(argument, cwd=self.cwd), 0)
                self.assert_nothing_logged()

    def test_further_arguments_are_ignored(self):
        self.assertEqual(self.prefix.run_product("-unknown", "-install", "more", cwd=self.cwd), 0)
        self.assert_nothing_logged()

    def test_start_lines_are_never_written(self):
        # The executable's path, 1617 and the argument are information lines
        # issued before the settings are loaded.
        for args in ((), ("-unknown",)):
            with self.subTest(args=args):
                self.prefix.run_product(*args, cwd=self.cwd)
                for folder in (self.cwd, self.prefix.system32):
                    messages = [line.message for line in self.prefix.read_log(folder)]
                    self.assertNotIn("1617", messages)
                    self.assertFalse(any("VexelPlayerUpdateService.exe" in m for m in messages))


if __name__ == "__main__":
    unittest.main()
