// Started programs on Windows: CreateProcessW, WaitForSingleObject, GetExitCodeProcess.
#include <windows.h>

#include "platform/process.h"
#include "platform/win32/wide_path.h"

namespace platform {

bool Process::Start(const FileLocation& application, const std::string& commandLine,
                    uint16_t show, Process* out) {
  // The wide call: the launcher's folder, where the program lies, may hold characters that the
  // ANSI code page lacks. The command line is converted as CreateProcessA would convert it.
  const win32::WideText program = win32::WidePath(application);
  if (program[0] == L'\0') return false;  // no folder: nothing else may be searched for
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = show;
  SECURITY_ATTRIBUTES threadAttributes;
  ZeroMemory(&threadAttributes, sizeof(threadAttributes));
  threadAttributes.nLength = sizeof(threadAttributes);
  threadAttributes.bInheritHandle = TRUE;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof(info));
  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  win32::WideText buffer = win32::Widen(commandLine);
  if (!CreateProcessW(program.data(), buffer.data(), nullptr, &threadAttributes, TRUE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  Process process;
  process.thread_ = ScopedHandle<ProcessPolicy>(reinterpret_cast<intptr_t>(info.hThread));
  process.process_ = ScopedHandle<ProcessPolicy>(reinterpret_cast<intptr_t>(info.hProcess));
  *out = std::move(process);
  return true;
}

bool Process::Wait() {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(process_.Get()), INFINITE) == WAIT_OBJECT_0;
}

bool Process::ExitCode(uint32_t* code) {
  DWORD value = 0;
  if (!GetExitCodeProcess(reinterpret_cast<HANDLE>(process_.Get()), &value)) return false;
  *code = value;
  return true;
}

bool ProcessPolicy::Close(Handle handle) {
  return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

}  // namespace platform
