/* vexel-addroot CERT.der: adds the DER-encoded certificate CERT.der to the
 * system's "ROOT" store, so that programs of the wine prefix (WinHTTP among
 * them) trust the servers whose certificates it issued. For the tests'
 * own authority only. Exits 0 when the certificate was added (or was there
 * already), 2 on wrong usage, otherwise with the Windows error. */
#include <stdio.h>
#include <windows.h>
#include <wincrypt.h>

int wmain(int argc, wchar_t **argv) {
  static BYTE data[64 * 1024];
  DWORD size = 0;
  HANDLE file;
  if (argc != 2) {
    fwprintf(stderr, L"usage: vexel-addroot CERT.der\n");
    return 2;
  }
  file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    fwprintf(stderr, L"vexel-addroot: cannot open %ls: %lu\n", argv[1], error);
    return (int)error;
  }
  if (!ReadFile(file, data, sizeof data, &size, NULL) || size == 0 || size == sizeof data) {
    DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_DATA;
    CloseHandle(file);
    fwprintf(stderr, L"vexel-addroot: cannot read a certificate from %ls\n", argv[1]);
    return (int)error;
  }
  CloseHandle(file);
  if (!CertAddEncodedCertificateToSystemStoreW(L"ROOT", data, size)) {
    DWORD error = GetLastError();
    fwprintf(stderr, L"vexel-addroot: the ROOT store refused the certificate: %lu\n", error);
    return (int)error;
  }
  return 0;
}
