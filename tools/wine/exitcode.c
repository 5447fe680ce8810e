/* vexel-exitcode PROGRAM [ARGS...]: starts PROGRAM with the given arguments,
 * waits for it and prints its exit code as a signed decimal number on one
 * line. Exits 0 when the program ran, 1 when it could not be started.
 * Arguments are passed on quoted, so they arrive as given. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static void append_quoted(wchar_t *out, size_t cap, const wchar_t *arg) {
  size_t n = wcslen(out);
  if (n + 1 < cap) out[n++] = L'"';
  for (const wchar_t *p = arg;; ++p) {
    size_t backslashes = 0;
    while (*p == L'\\') { ++backslashes; ++p; }
    if (*p == L'\0') {
      for (size_t i = 0; i < backslashes * 2 && n + 1 < cap; ++i) out[n++] = L'\\';
      break;
    }
    if (*p == L'"') {
      for (size_t i = 0; i < backslashes * 2 + 1 && n + 1 < cap; ++i) out[n++] = L'\\';
    } else {
      for (size_t i = 0; i < backslashes && n + 1 < cap; ++i) out[n++] = L'\\';
    }
    if (n + 1 < cap) out[n++] = *p;
  }
  if (n + 1 < cap) out[n++] = L'"';
  out[n] = L'\0';
}

int wmain(int argc, wchar_t **argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: vexel-exitcode PROGRAM [ARGS...]\n");
    return 1;
  }
  size_t cap = 64;
  for (int i = 1; i < argc; ++i) cap += wcslen(argv[i]) * 2 + 3;
  wchar_t *cmd = calloc(cap, sizeof(wchar_t));
  if (!cmd) return 1;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) wcscat(cmd, L" ");
    append_quoted(cmd, cap, argv[i]);
  }
  STARTUPINFOW si;
  PROCESS_INFORMATION pi;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  if (!CreateProcessW(argv[1], cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    fwprintf(stderr, L"vexel-exitcode: cannot start %ls: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  printf("%ld\n", (long)(LONG)code);
  fflush(stdout);
  free(cmd);
  return 0;
}
