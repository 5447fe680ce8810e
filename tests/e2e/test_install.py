"""Installing a flavour under wine against the local package server on
port 80: a package signed through the build's development authority that
carries the test installer (tools/wine/test_installer.c) is downloaded,
verified, written as VexelPlayerInstaller.exe in the current directory and
started by its full path with "VexelPlayerInstaller.exe -install -iv 9";
tampered packages and every fault mode of the server end in their codes and
leave nothing on disk.

The C++ side is the suite InstallerAgainstServers of
tests/win32/installer_download_win32_test.cpp, run from a copy of
vexel_win32_tests.exe in a folder of its own. Beside that copy lies another
file named VexelPlayerInstaller.exe: a program that looked the installer up
through the system's search for executables would start that one, which
comes first there, instead of the file it has just written."""

import shutil
import subprocess
import unittest

from harness import WineTestCase
from servers import ACTIVEX_PACKAGE_PATH, MODES, PLUGIN_PACKAGE_PATH, TransferServers

GTEST_TIMEOUT = 300
COMMAND_LINE = "VexelPlayerInstaller.exe -install -iv 9"
SIGNATURE_TAMPERED_PATH = "/tampered/signature/install_all_win_ax_sgn.z"


def read_records(path):
    """The records the test installer appended to `path`: dicts of its lines."""
    records = []
    for block in path.read_bytes().decode("utf-8").split("end\r\n"):
        fields = dict(line.split("=", 1) for line in block.split("\r\n") if "=" in line)
        if fields:
            records.append(fields)
    return records


class InstallAgainstLocalServer(WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        pki = cls.prefix.build / "test-pki"
        cls.signer_cert = pki / "certs" / "signer.pem"
        cls.signer_key = pki / "keys" / "signer.key"
        if not (cls.signer_cert.exists() and cls.signer_key.exists()):
            raise unittest.SkipTest("no test PKI: the fixture signed_packages made none")
        cls.root = cls.prefix.drive_c / "vexel-install"
        shutil.rmtree(cls.root, ignore_errors=True)
        cls.updater = cls.root / "updater"
        cls.work = cls.root / "work"
        cls.packages = cls.root / "packages"
        for folder in (cls.updater, cls.work, cls.packages):
            folder.mkdir(parents=True)

        cls.installer = cls.packages / "vexel-test-installer.exe"
        shutil.copy2(cls.prefix.tool("vexel-test-installer"), cls.installer)
        shutil.copy2(cls.prefix.build / "tests" / "vexel_win32_tests.exe", cls.updater)
        shutil.copy2(cls.installer, cls.updater / "VexelPlayerInstaller.exe")

        valid = cls.sign("valid.p7")
        payload = cls.installer.read_bytes()
        # Content altered after signing, in a package whose signature covers
        # the content itself: wine's crypt32 does not compare the digest
        # recorded in signed attributes with the content.
        unattributed = bytearray(cls.sign("unattributed.p7", attributes=False))
        at = unattributed.find(payload)
        assert at >= 0, "the installer is not found inside its package"
        unattributed[at + len(payload) // 2] ^= 0x01
        # The signature value is the message's last field.
        bad_signature = bytearray(valid)
        bad_signature[-1] ^= 0x01

        cls.servers = TransferServers(cls.root / "servers", http_port=80, lifetime=600)
        cls.servers.set_slow_interval(1)
        cls.servers.packages[ACTIVEX_PACKAGE_PATH] = valid
        cls.servers.packages[PLUGIN_PACKAGE_PATH] = bytes(unattributed)
        cls.servers.packages[SIGNATURE_TAMPERED_PATH] = bytes(bad_signature)
        for mode in MODES:
            cls.servers.packages[f"/fault/{mode}/install_all_win_ax_sgn.z"] = valid
        cls.servers.start()

    @classmethod
    def tearDownClass(cls):
        cls.servers.stop()
        cls.prefix.wait_idle()
        shutil.rmtree(cls.root, ignore_errors=True)

    @classmethod
    def sign(cls, name, attributes=True):
        out = cls.packages / name
        args = ["openssl", "smime", "-sign", "-binary", "-nodetach", "-outform", "DER", "-md", "sha256",
                "-in", str(cls.installer), "-signer", str(cls.signer_cert), "-inkey", str(cls.signer_key),
                "-out", str(out)]
        if not attributes:
            args.append("-noattr")
        subprocess.run(args, check=True, capture_output=True, timeout=120)
        return out.read_bytes()

    def test_download_verification_writing_and_launch_against_the_package_server(self):
        env = dict(self.prefix.env,
                   VEXEL_TEST_HTTP_PORT=str(self.servers.http_port),
                   VEXEL_TEST_INSTALLER=self.prefix.to_windows(self.installer))
        program = self.prefix.to_windows(self.updater / "vexel_win32_tests.exe")
        result = subprocess.run(["wine", program, "--gtest_filter=InstallerAgainstServers.*"], env=env,
                                cwd=self.work, capture_output=True, timeout=GTEST_TIMEOUT)
        output = result.stdout.decode(errors="replace")
        self.assertEqual(result.returncode, 0, output[-6000:])
        self.assertIn("[  PASSED  ]", output)
        self.assertNotIn("[  SKIPPED ]", output, output[-6000:])
        self.prefix.wait_idle()

        # The product's download asked the package server on port 80 for each
        # flavour's package with its agent.
        agent = "Download Vexel Player Installer/1.0"
        requests = self.servers.package_server.requests
        for path in (ACTIVEX_PACKAGE_PATH, PLUGIN_PACKAGE_PATH):
            self.assertIn({"method": "GET", "path": path, "user_agent": agent}, requests)
        faults = {r["path"].split("/")[2] for r in requests if r["path"].startswith("/fault/")}
        self.assertEqual(faults, set(MODES))

        # The installer ran once, from the file written in the current
        # directory, with the fixed command line; the file of the same name in
        # the updater's own folder never ran.
        activex = self.work / "activex"
        records = read_records(activex / "VexelPlayerInstaller.exe.record")
        self.assertEqual(len(records), 1, records)
        self.assertEqual(records[0]["command line"], COMMAND_LINE)
        self.assertEqual(records[0]["current directory"].lower(), self.prefix.to_windows(activex).lower())
        self.assertEqual(records[0]["program"].lower(),
                         self.prefix.to_windows(activex / "VexelPlayerInstaller.exe").lower())
        self.assertFalse((self.updater / "VexelPlayerInstaller.exe.record").exists())
        self.assertEqual((activex / "VexelPlayerInstaller.exe").read_bytes(), self.installer.read_bytes())
        # Nothing was installed from a tampered package.
        for name in ("altered-content", "altered-signature"):
            self.assertEqual(list((self.work / name).iterdir()), [], name)


if __name__ == "__main__":
    unittest.main()
