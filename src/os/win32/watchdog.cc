// The watchdog's thread and clock on Windows, and its two ways of stepping in.
#include <windows.h>

#include "os/internal/step.h"

namespace os {
namespace watchdog {
namespace {

using CancelSynchronousIoFn = BOOL(WINAPI*)(HANDLE);

void (*g_body)() = nullptr;
HANDLE g_runThread = nullptr;                // the run's own thread, to cancel its calls
CancelSynchronousIoFn g_cancelIo = nullptr;  // looked up once, before the watchdog starts

DWORD WINAPI ThreadMain(LPVOID) {
  g_body();
  return 0;
}

}  // namespace

uint32_t NowMs() { return GetTickCount(); }

bool StartThread(void (*body)()) {
  g_body = body;
  // Looked up here, on the run's thread: the watchdog's thread loads nothing, for a stuck
  // library load may hold the loader's lock.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  g_cancelIo = kernel ? reinterpret_cast<CancelSynchronousIoFn>(
                            reinterpret_cast<void*>(GetProcAddress(kernel, "CancelSynchronousIo")))
                      : nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_runThread,
                       THREAD_TERMINATE, FALSE, 0)) {
    g_runThread = nullptr;
  }
  // Room for the run's event, composed and written on this thread when the run is ended.
  HANDLE thread = CreateThread(nullptr, 256 * 1024, &ThreadMain, nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  return true;
}

void CancelBlockedCall() {
  // An open, a rename or a library's load that waits for another program's opportunistic lock
  // then fails with ERROR_OPERATION_ABORTED.
  if (g_cancelIo != nullptr && g_runThread != nullptr) g_cancelIo(g_runThread);
}

void EndRun() {
  // Not ExitProcess: it would tell every library of the end under the loader's lock, which the
  // stuck thread may hold.
  TerminateProcess(GetCurrentProcess(), 0);
  for (;;) Sleep(INFINITE);
}

}  // namespace watchdog
}  // namespace os
