/* vexel-test-installer: a stand-in for the runtime's installer in the tests.
 * It records how it was started and exits with 0: it appends to the file
 * named after itself with ".record" added ("VexelPlayerInstaller.exe.record"
 * beside "VexelPlayerInstaller.exe"), in UTF-8, one record of four lines:
 *   program=<its own full path>
 *   command line=<its command line, as the system handed it over>
 *   current directory=<its current directory>
 *   end
 * The record is written in one write, so that a reader sees it whole or not
 * at all. Exits 1 when it cannot write the record. */
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#define LIMIT 32768

static int append_utf8(char *out, int used, int cap, const wchar_t *text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out + used, cap - used, NULL, NULL);
  return n > 0 ? used + n - 1 : used; /* without the terminating zero */
}

static int append_text(char *out, int used, int cap, const char *text) {
  size_t n = strlen(text);
  if (used + (int)n >= cap) return used;
  memcpy(out + used, text, n);
  return used + (int)n;
}

int wmain(void) {
  static wchar_t program[LIMIT];
  static wchar_t directory[LIMIT];
  static wchar_t recordPath[LIMIT + 16];
  static char record[4 * LIMIT];
  DWORD length = GetModuleFileNameW(NULL, program, LIMIT);
  if (length == 0 || length >= LIMIT) return 1;
  if (GetCurrentDirectoryW(LIMIT, directory) == 0) return 1;
  wcscpy(recordPath, program);
  wcscat(recordPath, L".record");

  int used = 0;
  const int cap = (int)sizeof(record);
  used = append_text(record, used, cap, "program=");
  used = append_utf8(record, used, cap, program);
  used = append_text(record, used, cap, "\r\ncommand line=");
  used = append_utf8(record, used, cap, GetCommandLineW());
  used = append_text(record, used, cap, "\r\ncurrent directory=");
  used = append_utf8(record, used, cap, directory);
  used = append_text(record, used, cap, "\r\nend\r\n");

  HANDLE file = CreateFileW(recordPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(file, record, (DWORD)used, &written, NULL) && written == (DWORD)used;
  CloseHandle(file);
  return ok ? 0 : 1;
}
