"""vexel-log.exe, the Windows build of the log reader, under wine: it reads
an activity log written in the prefix and prints each line decoded."""

import re
import shutil
import unittest

from harness import WineTestCase

LEVEL_WORDS = {"kLogError": "error", "kLogWarning": "warning", "kLogInformation": "info"}
HOST = "b\u00fccher.example"


def catalogue(source):
    """(code, level word, argument kind, meaning) of every row of the message catalogue."""
    text = (source / "support" / "message_catalogue.cpp").read_text(encoding="utf-8")
    rows = re.findall(r'\{(\d+), (kLog\w+), A::(\w+), "((?:[^"\\]|\\.)*)"\}', text)
    return [(int(code), LEVEL_WORDS[level], kind, meaning) for code, level, kind, meaning in rows]


def log_line(n, level, message):
    """One line as the program writes it, at a made-up time n milliseconds into 3 November 2010."""
    second, ms = divmod(n, 1000)
    minute, second = divmod(second, 60)
    return f"2010-11-3+9-{minute}-{second}.{ms} [{level}] {message}\r\n".encode("utf-16-le")


def argument_for(kind):
    return {"None": "", "LastError": " 5", "Either": " 5", "Number": " 4", "Text": " " + HOST}[kind]


class LogReader(WineTestCase):
    def setUp(self):
        # Only the product's folder matters here: no service, task or registry.
        shutil.rmtree(self.prefix.system32 / "Kestran", ignore_errors=True)
        self.prefix.product_folder().mkdir(parents=True)
        self.rows = catalogue(self.prefix.source)
        self.assertGreater(len(self.rows), 100)
        self.extra = []

    def tearDown(self):
        for path in self.extra:
            shutil.rmtree(path, ignore_errors=True)
        shutil.rmtree(self.prefix.system32 / "Kestran", ignore_errors=True)

    def service_log(self):
        return self.prefix.product_folder() / "VexelInstall.log"

    def read(self, args, check=True):
        result = self.prefix.wine([self.prefix.tool("vexel-log"), *args], check=check)
        return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8", errors="replace")

    def test_decodes_every_code_of_the_catalogue_in_the_service_log(self):
        data = b"".join(
            log_line(n, level, f"{code}{argument_for(kind)}") for n, (code, level, kind, _) in enumerate(self.rows)
        )
        # Foreign bytes of odd length, then a line the log reader must still find,
        # then a last line still being written.
        data += b"foreign" + log_line(999, "error", "1219 5") + "2010-11-3+9-5-4".encode("utf-16-le")
        self.service_log().write_bytes(data)

        # Without a file argument the reader takes the service's log in the system folder.
        _, out, _ = self.read([])
        lines = out.splitlines()
        for n, (code, level, kind, meaning) in enumerate(self.rows):
            with self.subTest(code=code):
                printed = lines[n]
                self.assertTrue(printed.startswith("2010-11-03T09:"), printed)
                self.assertIn(f" {level:7} {code} {meaning}", printed)
                self.assertNotIn("unknown code", printed)
                if kind in ("LastError", "Either"):
                    self.assertTrue(printed.endswith("; last Windows error 5 (ERROR_ACCESS_DENIED)"), printed)
                if kind == "Number":
                    self.assertIn("; control code 4 = interrogate", printed)
                if kind == "Text":
                    self.assertTrue(printed.endswith(f'; host name "{HOST}"'), printed)
        tail = lines[len(self.rows):]
        self.assertEqual(len(tail), 3, tail)
        self.assertTrue(tail[0].startswith("[unparsed at byte "), tail[0])
        self.assertIn('8-bit text "foreign"', tail[0])
        self.assertIn(" error   1219 ", tail[1])
        self.assertTrue(tail[2].startswith("[incomplete last line at byte "), tail[2])

    def test_filters_and_the_last_cycle(self):
        messages = [("error", "1219 5"), ("info", "1608"), ("warning", "1409"), ("info", "1612"),
                    ("info", "1608"), ("error", "1300 2"), ("info", "1612"), ("info", "1620")]
        self.service_log().write_bytes(b"".join(log_line(1000 * n, lvl, msg) for n, (lvl, msg) in enumerate(messages)))
        windows_path = self.prefix.to_windows(self.service_log())

        def codes(out):
            return [line.split()[2] for line in out.splitlines()]

        self.assertEqual(codes(self.read(["--last-cycle", windows_path])[1]), ["1608", "1300", "1612"])
        self.assertEqual(codes(self.read(["--level", "warning", windows_path])[1]), ["1219", "1409", "1300"])
        self.assertEqual(codes(self.read(["--since", "2010-11-03T09:00:05", "--until=2010-11-03T09:00:06Z",
                                          windows_path])[1]), ["1300", "1612"])

    def test_a_path_beyond_ascii_reaches_the_wide_entry_point(self):
        folder = self.prefix.drive_c / "Protokoll \u00e4\u4e2d"
        self.extra.append(folder)
        folder.mkdir()
        (folder / "VexelInstall.log").write_bytes(log_line(0, "info", f"1629 {HOST}"))
        # wine turns its Unix arguments into wide text by the locale's character set.
        saved = self.prefix.env.get("LC_ALL")
        self.prefix.env["LC_ALL"] = "C.UTF-8"
        try:
            _, out, _ = self.read([self.prefix.to_windows(folder / "VexelInstall.log")])
        finally:
            if saved is None:
                self.prefix.env.pop("LC_ALL")
            else:
                self.prefix.env["LC_ALL"] = saved
        self.assertIn(f'1629 settings: a server domain is configured (the manifest host follows); host name "{HOST}"',
                      out)

    def test_bad_input_gets_a_message_and_an_exit_code(self):
        self.service_log().write_bytes(log_line(0, "error", "1219 5"))
        log = self.prefix.to_windows(self.service_log())
        cases = [
            (["--bogus", log], 2, "unknown option '--bogus'"),
            (["--since", "2010-02-30", log], 2, "that day does not exist"),
            ([r"C:\no\such\VexelInstall.log"], 3, "cannot read"),
            (["--last-cycle", log], 1, "no update cycle"),
        ]
        for args, exit_code, message in cases:
            with self.subTest(args=args):
                code, out, err = self.read(args, check=False)
                self.assertEqual(code, exit_code)
                self.assertEqual(out, "")
                self.assertIn(message, err)
                self.assertNotIn("terminate", err)
        # The full 32-bit exit code, as Windows sees it.
        self.assertEqual(self.prefix.run_program(self.prefix.tool("vexel-log"), ["--bogus"]), 2)
        self.assertEqual(self.prefix.run_program(self.prefix.tool("vexel-log"), ["--help"]), 0)


if __name__ == "__main__":
    unittest.main()
