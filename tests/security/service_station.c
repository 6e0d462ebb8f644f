/* Starts a program where a deployment agent running as SYSTEM in session 0 would: on a window
   station of its own, created without WSF_VISIBLE, which nobody sees. Waits for it and exits with
   its exit status; 100 and up when the program could not be started there.
   Usage: service_station PROGRAM */
#include <windows.h>
#include <shellapi.h>

int main(void) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  HWINSTA station;
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  WCHAR desktop[] = L"Service-0x0-3e7$\\Default";
  WCHAR command[MAX_PATH + 3];
  DWORD code = 0;
  if (argv == NULL || argc != 2 || lstrlenW(argv[1]) > MAX_PATH) return 100;
  station = CreateWindowStationW(L"Service-0x0-3e7$", 0, WINSTA_ALL_ACCESS, NULL);
  if (station == NULL || !SetProcessWindowStation(station)) return 101;
  if (CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL) == NULL) return 102;
  wsprintfW(command, L"\"%s\"", argv[1]);
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  if (!CreateProcessW(argv[1], command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
    return 103;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  return (int)code;
}
