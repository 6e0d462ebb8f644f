// Started programs on Windows: CreateProcessA, WaitForSingleObject, GetExitCodeProcess.
#include <windows.h>

#include <vector>

#include "platform/process.h"

namespace platform {

bool Process::Start(const std::string& application, const std::string& commandLine, uint16_t show,
                    Process* out) {
  STARTUPINFOA startup;
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
  // CreateProcessA may write into the command line, so it gets a buffer of its own.
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');
  if (!CreateProcessA(application.c_str(), buffer.data(), nullptr, &threadAttributes, TRUE, 0,
                      nullptr, nullptr, &startup, &info)) {
    return false;
  }
  Process process;
  process.process_ = reinterpret_cast<intptr_t>(info.hProcess);
  process.thread_ = reinterpret_cast<intptr_t>(info.hThread);
  *out = std::move(process);
  return true;
}

bool Process::Wait() {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(process_), INFINITE) == WAIT_OBJECT_0;
}

bool Process::ExitCode(uint32_t* code) {
  DWORD value = 0;
  if (!GetExitCodeProcess(reinterpret_cast<HANDLE>(process_), &value)) return false;
  *code = value;
  return true;
}

void Process::Close() {
  if (thread_) CloseHandle(reinterpret_cast<HANDLE>(thread_));
  if (process_) CloseHandle(reinterpret_cast<HANDLE>(process_));
  thread_ = process_ = 0;
}

}  // namespace platform
