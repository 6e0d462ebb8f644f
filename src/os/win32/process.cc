// Started programs on Windows: CreateProcessW with a handle list, a job that keeps what the program
// starts, and, where offered, libraries from System32 first.
#include <windows.h>

#include <vector>

#include "os/process.h"
#include "os/win32/handle.h"
#include "os/win32/wide_path.h"
#include "os/internal/step.h"

namespace os {
namespace {

using win32::AsHandle;
using win32::AsNumber;

// Windows 10's process creation policy that loads libraries from System32 before the program's
// folder, and the error of a start that a software restriction rule refuses without telling the
// user; the headers declare both only for newer targets than this program's.
const DWORD64 kPreferSystem32Libraries = 1ull << 60;
const DWORD kRefusedByPolicyQuietly = 786;

using win32::Terminated;
using win32::Text;

// The path of the held |room| as CreateProcessW takes it: its final path, without the "\\?\" of
// a drive path, which a program's current directory does not take.
bool RoomPath(const Folder& room, Text* out) {
  Text path;
  if (!win32::FinalPath(AsHandle(room.NativeHandle()), &path)) return false;
  const bool drive = path.size() > 6 && path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' &&
                     path[3] == L'\\' && path[5] == L':';
  out->assign(path.begin() + (drive ? 4 : 0), path.end());
  return true;
}

// A job for what the program starts: the room asks it whether any of them still runs. Programs
// that ask to leave it may (some installers start their helpers so), and closing it ends nothing.
HANDLE MakeJob() {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (job != nullptr &&
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    CloseHandle(job);
    job = nullptr;
  }
  return job;
}

}  // namespace

bool ProgramsRun(const base::ScopedHandle<ProcessPolicy>& programs) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  return programs.IsValid() &&
         QueryInformationJobObject(AsHandle(programs.Get()), JobObjectBasicAccountingInformation,
                                   &accounting, sizeof(accounting), nullptr) &&
         accounting.ActiveProcesses > 0;
}

namespace {

// The attribute list of a start: the one handle inherited, when given, and where |policy|,
// libraries loaded from System32 before the program's folder. Null when it cannot be made.
class Attributes {
 public:
  Attributes(HANDLE* inherited, const DWORD64* policy) {
    const DWORD count = (inherited ? 1 : 0) + (policy ? 1 : 0);
    if (count == 0) return;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, count, 0, &size);
    storage_.resize(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, count, 0, &size)) return;
    list_ = list;
    if ((inherited &&
         !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                    sizeof(*inherited), nullptr, nullptr)) ||
        (policy && !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY,
                                              const_cast<DWORD64*>(policy), sizeof(*policy),
                                              nullptr, nullptr))) {
      failed_ = true;
    }
  }
  ~Attributes() {
    if (list_) DeleteProcThreadAttributeList(list_);
  }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;

  bool failed() const { return failed_ || (!storage_.empty() && list_ == nullptr); }
  LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

 private:
  std::vector<BYTE> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
  bool failed_ = false;
};

// What the system's refusal to start a program says.
StartResult StartFailed(DWORD error) {
  // A software restriction policy or an AppLocker rule forbids programs in that folder.
  const bool byPolicy =
      error == ERROR_ACCESS_DISABLED_BY_POLICY || error == kRefusedByPolicyQuietly;
  return StartResult{byPolicy ? StartFailure::kRefused : StartFailure::kFailed, error};
}

}  // namespace

StartResult Process::Start(CleanRoom* room, const std::string& commandLine, uint16_t show,
                           const File* shared, Process* out) {
  Text folder;
  if (!room->copy_.IsOpen() || !RoomPath(room->room_, &folder)) {
    return StartResult{StartFailure::kFailed, 0};
  }
  if (BeginStep(testing::Op::kStart)) return StartFailed(ERROR_ACCESS_DISABLED_BY_POLICY);
  Text program = folder;
  program.push_back(L'\\');
  const Text name = win32::Wide(room->copyName_);
  program.insert(program.end(), name.begin(), name.end());
  STARTUPINFOEXW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.StartupInfo.cb = sizeof(startup);
  // No standard handles: those the launcher got from its caller are not passed on either.
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = show;
  // Only the listed handle is inherited, whatever else of the launcher's is inheritable.
  HANDLE inherited = shared && shared->IsOpen() ? AsHandle(shared->NativeHandle()) : nullptr;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof(info));
  DWORD error = ERROR_SUCCESS;
  // First with the library policy; a system that does not offer it refuses the attribute or
  // the creation, and the program then starts without it.
  for (const DWORD64* policy : {&kPreferSystem32Libraries, static_cast<const DWORD64*>(nullptr)}) {
    Attributes attributes(inherited ? &inherited : nullptr, policy);
    if (attributes.failed()) {
      error = GetLastError();
      if (policy) continue;
      return StartFailed(error);
    }
    startup.lpAttributeList = attributes.list();
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    win32::WideText buffer = win32::Widen(commandLine);
    // Suspended until it is in its job, so that nothing it starts can escape the job unasked.
    if (CreateProcessW(Terminated(program).data(), buffer.data(), nullptr, nullptr,
                       inherited ? TRUE : FALSE,
                       CREATE_SUSPENDED | (attributes.list() ? EXTENDED_STARTUPINFO_PRESENT : 0),
                       nullptr, Terminated(folder).data(), &startup.StartupInfo, &info)) {
      error = ERROR_SUCCESS;
      break;
    }
    error = GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED) break;
  }
  if (error != ERROR_SUCCESS) return StartFailed(error);
  Process process;
  process.thread_ = base::ScopedHandle<ProcessPolicy>(AsNumber(info.hThread));
  process.process_ = base::ScopedHandle<ProcessPolicy>(AsNumber(info.hProcess));
  // Without a job (a system that does not nest jobs, for a launcher started in one), the room
  // is removed once the program ends, as far as the system lets what still runs be removed.
  base::ScopedHandle<ProcessPolicy> job(AsNumber(MakeJob()));
  if (job.IsValid() && !AssignProcessToJobObject(AsHandle(job.Get()), info.hProcess)) job.Close();
  if (ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
    error = GetLastError();
    TerminateProcess(info.hProcess, error);
    return StartFailed(error);
  }
  room->programs_ = std::move(job);
  *out = std::move(process);
  return StartResult{};
}

bool Process::Wait() {
  return WaitForSingleObject(AsHandle(process_.Get()), INFINITE) == WAIT_OBJECT_0;
}

bool Process::ExitCode(uint32_t* code) {
  DWORD value = 0;
  if (!GetExitCodeProcess(AsHandle(process_.Get()), &value)) return false;
  *code = value;
  return true;
}

bool ProcessPolicy::Close(Handle handle) { return CloseHandle(AsHandle(handle)) != 0; }

}  // namespace os
