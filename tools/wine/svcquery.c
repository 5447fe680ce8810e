/* vexel-svcquery NAME: prints what the service control manager holds for a
 * service, one "key=value" per line: exists, state, type, start, error,
 * binary, display, account, description. Prints "exists=0" for a service
 * that is not registered. Exits 0 unless the manager cannot be opened. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static void print_wide(const char *key, const wchar_t *value) {
  char utf8[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, value ? value : L"", -1, utf8, sizeof utf8, NULL, NULL);
  if (n <= 0) utf8[0] = '\0';
  printf("%s=%s\n", key, utf8);
}

int wmain(int argc, wchar_t **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: vexel-svcquery NAME\n");
    return 2;
  }
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
  if (!manager) {
    fprintf(stderr, "vexel-svcquery: OpenSCManager failed: %lu\n", GetLastError());
    return 1;
  }
  SC_HANDLE service = OpenServiceW(manager, argv[1], SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
  if (!service) {
    printf("exists=0\nopen_error=%lu\n", GetLastError());
    CloseServiceHandle(manager);
    return 0;
  }
  printf("exists=1\n");
  SERVICE_STATUS status;
  if (QueryServiceStatus(service, &status)) printf("state=%lu\n", status.dwCurrentState);
  DWORD needed = 0;
  QueryServiceConfigW(service, NULL, 0, &needed);
  QUERY_SERVICE_CONFIGW *config = needed ? malloc(needed) : NULL;
  if (config && QueryServiceConfigW(service, config, needed, &needed)) {
    printf("type=%lu\nstart=%lu\nerror=%lu\n", config->dwServiceType, config->dwStartType, config->dwErrorControl);
    print_wide("binary", config->lpBinaryPathName);
    print_wide("display", config->lpDisplayName);
    print_wide("account", config->lpServiceStartName);
  }
  free(config);
  needed = 0;
  QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, NULL, 0, &needed);
  SERVICE_DESCRIPTIONW *description = needed ? malloc(needed) : NULL;
  if (description && QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, (BYTE *)description, needed, &needed))
    print_wide("description", description->lpDescription);
  free(description);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return 0;
}
