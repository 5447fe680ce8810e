"""The update-mode options under wine, against the real configuration file
in the prefix's system folder (C:\\windows\\system32\\Kestran\\Vexel\\vxm.cfg
as the 32-bit program sees it)."""

import os
import shutil
import stat
import unittest

from harness import EXIT_SILENT_UPDATE_ENABLED, WineTestCase

SET_OPTIONS = ("-setSilentAutoUpdate", "-setNotifyAutoUpdate", "-setDisableAutoUpdate")
ALL_OPTIONS = SET_OPTIONS + ("-isSAUEnabled",)


def entries(data):
    """key -> value of a file the program wrote: CR LF lines of key=value."""
    assert data.endswith(b"\r\n") or data == b"", data[-20:]
    result = {}
    for line in data.split(b"\r\n")[:-1]:
        key, value = line.split(b"=", 1)
        assert key not in result, key
        result[key] = value
    return result


class ConfigOptions(WineTestCase):
    def setUp(self):
        self.folder = self.prefix.product_folder()
        self.file = self.folder / "vxm.cfg"
        # The run's current directory holds a log folder, so that any line a
        # management run wrote would be found.
        self.cwd = self.prefix.drive_c / "config-test"
        shutil.rmtree(self.cwd, ignore_errors=True)
        (self.cwd / "Kestran" / "Vexel").mkdir(parents=True)
        self.clear()

    def tearDown(self):
        shutil.rmtree(self.cwd, ignore_errors=True)
        self.clear()

    def clear(self):
        """Removes the product's folder from the system folder; the options
        touch nothing else, so a subtest needs no fuller reset."""
        if self.file.exists():
            os.chmod(self.file, 0o644)
        shutil.rmtree(self.prefix.system32 / "Kestran", ignore_errors=True)

    def run_option(self, option):
        return self.prefix.run_product(option, cwd=self.cwd)

    def write_file(self, data):
        self.folder.mkdir(parents=True, exist_ok=True)
        self.file.write_bytes(data)

    def assert_only_the_file(self):
        self.assertEqual(sorted(p.name for p in self.folder.iterdir()), ["vxm.cfg"])

    def test_each_mode_creates_a_file_of_its_two_keys(self):
        cases = {
            "-setSilentAutoUpdate": b"AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=1\r\n",
            "-setNotifyAutoUpdate": b"AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=0\r\n",
            "-setDisableAutoUpdate": b"AutoUpdateDisable=1\r\nSilentAutoUpdateEnable=0\r\n",
        }
        for option, expected in cases.items():
            with self.subTest(option=option):
                self.clear()
                self.folder.mkdir(parents=True)
                self.assertEqual(self.run_option(option), 0)
                self.assertEqual(self.file.read_bytes(), expected)
                self.assert_only_the_file()
                self.assertEqual(self.prefix.read_log(self.cwd), [])

    def test_setting_a_mode_keeps_the_other_keys_in_their_places(self):
        self.write_file(
            b"\xef\xbb\xbf# written by the administrators\r\n"
            b"p=first\r\n"
            b"SilentAutoUpdateServerDomain=updates.example.org\r\n"
            b"SilentAutoUpdateEnable=1\r\n"
            b"SilentAutoUpdateVerboseLogging=1\r\n"
        )
        self.assertEqual(self.run_option("-setDisableAutoUpdate"), 0)
        # Table order: bucket 0 (AutoUpdateDisable, new, in front of p), 2, 8, 10.
        self.assertEqual(
            self.file.read_bytes(),
            b"AutoUpdateDisable=1\r\n"
            b"p=first\r\n"
            b"SilentAutoUpdateEnable=0\r\n"
            b"SilentAutoUpdateVerboseLogging=1\r\n"
            b"SilentAutoUpdateServerDomain=updates.example.org\r\n",
        )
        self.assert_only_the_file()
        # Read back, p is now the newer entry of bucket 0 and comes first.
        self.assertEqual(self.run_option("-setSilentAutoUpdate"), 0)
        self.assertEqual(
            self.file.read_bytes(),
            b"p=first\r\n"
            b"AutoUpdateDisable=0\r\n"
            b"SilentAutoUpdateEnable=1\r\n"
            b"SilentAutoUpdateVerboseLogging=1\r\n"
            b"SilentAutoUpdateServerDomain=updates.example.org\r\n",
        )

    def test_is_sau_enabled_reports_only_silent_auto_update(self):
        cases = [
            (b"SilentAutoUpdateEnable=1\r\n", EXIT_SILENT_UPDATE_ENABLED),
            (b"SilentAutoUpdateEnable=1\r\nAutoUpdateDisable=1\r\n", EXIT_SILENT_UPDATE_ENABLED),
            (b"SilentAutoUpdateEnable=Yes\n", EXIT_SILENT_UPDATE_ENABLED),
            (b"  SilentAutoUpdateEnable = 10abc \n", EXIT_SILENT_UPDATE_ENABLED),
            (b"\xef\xbb\xbfSilentAutoUpdateEnable=1", EXIT_SILENT_UPDATE_ENABLED),
            # A lone carriage return ends the line before and takes nothing
            # of the line after it.
            (b"a=1\rSilentAutoUpdateEnable=1", EXIT_SILENT_UPDATE_ENABLED),
            (b"SilentAutoUpdateEnable=0\r\nAutoUpdateDisable=0\r\n", 0),
            (b"SilentAutoUpdateEnable=on\r\n", 0),
            (b"silentautoupdateenable=1\r\n", 0),
            (b"AutoUpdateDisable=0\r\n", 0),
            (b"SilentAutoUpdateEnable=1\r\nSilentAutoUpdateEnable=0\r\n", 0),
            ("\ufeffSilentAutoUpdateEnable=1\r\n".encode("utf-16-le"), 0),
            (b"S=1", 0),
            (b"", 0),
            (None, 0),
        ]
        for data, code in cases:
            with self.subTest(data=data):
                self.clear()
                self.folder.mkdir(parents=True)
                if data is not None:
                    self.file.write_bytes(data)
                self.assertEqual(self.run_option("-isSAUEnabled"), code)
                if data is None:
                    self.assertFalse(self.file.exists())
                else:
                    self.assertEqual(self.file.read_bytes(), data, "nothing is changed")
                self.assertEqual(self.prefix.read_log(self.cwd), [])

    def test_without_the_folder_every_option_exits_0_and_creates_nothing(self):
        for missing in ("Kestran", "Kestran/Vexel"):
            for option in ALL_OPTIONS:
                with self.subTest(missing=missing, option=option):
                    self.clear()
                    if missing == "Kestran/Vexel":
                        (self.prefix.system32 / "Kestran").mkdir()
                    self.assertEqual(self.run_option(option), 0)
                    if missing == "Kestran":
                        self.assertFalse((self.prefix.system32 / "Kestran").exists())
                    else:
                        self.assertEqual(list((self.prefix.system32 / "Kestran").iterdir()), [])

    def test_a_file_the_administrators_made_read_only_is_left_alone(self):
        before = b"SilentAutoUpdateEnable=1\r\n# keep\r\n"
        self.write_file(before)
        os.chmod(self.file, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        for option in SET_OPTIONS:
            with self.subTest(option=option):
                self.assertEqual(self.run_option(option), 0)
                self.assertEqual(self.file.read_bytes(), before)
                self.assert_only_the_file()
        self.assertEqual(self.run_option("-isSAUEnabled"), EXIT_SILENT_UPDATE_ENABLED)

    def test_bad_files_are_read_as_the_rules_say(self):
        million = b"".join(b"Key%d=%d\n" % (i, i) for i in range(1000000))
        huge_value = b"v" * (8 << 20)
        cases = [
            ("a million lines", million, {b"Key%d" % i: b"%d" % i for i in range(1000000)}),
            ("one huge line", b"Huge=" + huge_value, {b"Huge": huge_value}),
            ("binary garbage", bytes(range(256)) * 64, None),
            ("UTF-16 with a byte-order mark", "\ufeffOther=1\r\n".encode("utf-16-le"), {}),
        ]
        for what, data, kept in cases:
            with self.subTest(what=what):
                self.clear()
                self.write_file(data)
                self.assertEqual(self.run_option("-setNotifyAutoUpdate"), 0)
                written = entries(self.file.read_bytes())
                self.assertEqual(written.pop(b"SilentAutoUpdateEnable"), b"0")
                self.assertEqual(written.pop(b"AutoUpdateDisable"), b"0")
                if kept is not None:
                    self.assertEqual(written, kept)
                self.assert_only_the_file()


if __name__ == "__main__":
    unittest.main()
