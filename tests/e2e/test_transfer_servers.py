"""The WinHTTP client under wine against the local transfer test servers:
the manifest over HTTPS with the certificate checked against the prefix's
trusted roots (to which the test authority is added), a server whose
certificate the prefix does not trust, and each fault mode of the servers.

The servers listen on 127.0.0.1, the manifest server on port 443 and the
package server on port 80, as the product expects them; the C++ side of the
checks is tests/win32/http_client_win32_test.cpp, told the ports through its
environment."""

import shutil
import subprocess
import unittest

from harness import WineTestCase
from servers import MANIFEST_PATH, TestPki, TransferServers

# The slowest case is the slow server against a deadline of seconds; the
# whole run stays far below this.
GTEST_TIMEOUT = 300


class WinHttpAgainstLocalServers(WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.workdir = cls.prefix.build / "transfer-servers"
        shutil.rmtree(cls.workdir, ignore_errors=True)
        cls.pki = TestPki(cls.workdir / "pki")
        added = cls.prefix.run_program(cls.prefix.tool("vexel-addroot"), [cls.prefix.to_windows(cls.pki.ca_der)])
        if added != 0:
            raise AssertionError(f"vexel-addroot could not add the test authority: {added}")
        cls.servers = TransferServers(cls.workdir, https_port=443, http_port=80, lifetime=600, pki=cls.pki)
        cls.servers.set_slow_interval(1)
        cls.servers.start()

    @classmethod
    def tearDownClass(cls):
        cls.servers.stop()
        shutil.rmtree(cls.workdir, ignore_errors=True)

    def run_gtests(self, pattern):
        env = dict(self.prefix.env, **self.servers.environment())
        program = self.prefix.build / "tests" / "vexel_win32_tests.exe"
        result = subprocess.run(
            ["wine", str(program), f"--gtest_filter={pattern}"], env=env, capture_output=True, timeout=GTEST_TIMEOUT
        )
        output = result.stdout.decode(errors="replace")
        self.assertEqual(result.returncode, 0, output[-6000:])
        self.assertIn("[  PASSED  ]", output)
        # Every case ran: none found the servers missing.
        self.assertNotIn("[  SKIPPED ]", output, output[-6000:])
        return output

    def test_manifest_over_https_and_every_fault_through_winhttp(self):
        self.run_gtests("WinHttpAgainstServers.*")
        manifest_requests = self.servers.manifest_server.requests
        # The product's own fetch reached the trusted server on 443 with its
        # agent and its path.
        self.assertIn(
            {"method": "GET", "path": MANIFEST_PATH, "user_agent": "Get Vexel Player version xml/1.0"},
            manifest_requests,
        )
        # The untrusted server never saw a request: the handshake was refused.
        self.assertEqual(self.servers.untrusted_server.requests, [])
        faults = {r["path"].split("/")[2] for r in manifest_requests if r["path"].startswith("/fault/")}
        self.assertEqual(faults, {"ok", "404", "500", "empty", "zero-after", "zero-inside", "reset", "huge", "slow"})


if __name__ == "__main__":
    unittest.main()
