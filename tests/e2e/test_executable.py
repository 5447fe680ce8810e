"""The Windows executable as a file: its type, imports and manifest."""

import re
import subprocess
import unittest

from harness import Prefix

# DLLs of compiler runtimes that a machine without a compiler lacks.
COMPILER_RUNTIME_DLL = re.compile(r"^(libstdc\+\+|libgcc_s|libwinpthread|libssp|libgomp|libatomic)", re.I)


class ExecutableFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe = Prefix().product
        cls.headers = subprocess.run(
            ["i686-w64-mingw32-objdump", "-p", str(cls.exe)], capture_output=True, text=True, check=True, timeout=60
        ).stdout

    def test_is_a_32_bit_console_program(self):
        kind = subprocess.run(["file", "-b", str(self.exe)], capture_output=True, text=True, check=True).stdout
        self.assertIn("PE32 executable (console) Intel 80386", kind)

    def test_imports_no_compiler_runtime_and_not_crypt32(self):
        dlls = re.findall(r"DLL Name: (\S+)", self.headers)
        self.assertIn("KERNEL32.dll", dlls)
        for dll in dlls:
            self.assertIsNone(COMPILER_RUNTIME_DLL.match(dll), dll)
            # The cryptographic library is loaded at run time from the system folder only.
            self.assertNotEqual(dll.lower(), "crypt32.dll")

    def test_manifest_resource_requests_administrator_rights(self):
        # Resource type 24 (RT_MANIFEST) with id 1.
        resource = re.search(r"Entry: ID: 0x000018, Value: 0x8\w+\n\s*\S+ +Name Table.*\n\s*\S+ +Entry: ID: 0x000001", self.headers)
        self.assertTrue(resource, "no RT_MANIFEST resource with id 1")
        data = self.exe.read_bytes()
        manifest = re.search(rb"<assembly.*?</assembly>", data, re.S)
        self.assertIsNotNone(manifest)
        self.assertRegex(manifest.group(0), rb'requestedExecutionLevel\s+level="requireAdministrator"\s+uiAccess="false"')


if __name__ == "__main__":
    unittest.main()
