// Started programs on Windows: CreateProcessW with a handle list, a job that keeps what the program
// starts, and, where offered, libraries from System32 first.
#include <windows.h>

#include <vector>

#include "os/process.h"
#include "os/win32/handle.h"
#include "os/win32/security.h"
#include "os/win32/system_library.h"
#include "os/win32/wide_path.h"
#include "os/internal/access.h"
#include "os/internal/process.h"

namespace os {
namespace {

using internal::FileAccess;
using internal::FolderAccess;
using win32::AsHandle;
using win32::AsNumber;

// Windows 10's process creation policy that loads libraries from System32 before the program's
// folder, and the error of a start that a software restriction rule refuses without telling the
// user; the headers declare both only for newer targets than this program's.
const DWORD64 kPreferSystem32Libraries = 1ull << 60;
const DWORD kRefusedByPolicyQuietly = 786;

using win32::Terminated;
using win32::Text;

// The path of the held |folder| as CreateProcessW and a program's environment take it: its
// final path, without the "\\?\" of a drive path, which a program's current directory does not
// take.
bool FolderPath(const Folder& folder, Text* out) {
  Text path;
  if (!win32::FinalPath(AsHandle(FolderAccess::NativeHandle(folder)), &path)) return false;
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

// The launcher's environment block, "NAME=value" entries each ending in its zero and the block
// in one more, copied into |*out|; false when it cannot be read. Loaded at run time: the
// executable imports neither call by name.
bool ReadEnvironment(Text* out) {
  typedef wchar_t*(WINAPI * GetFn)();
  typedef BOOL(WINAPI * FreeFn)(wchar_t*);
  const GetFn get =
      reinterpret_cast<GetFn>(win32::SystemFunction("kernel32.dll", "GetEnvironmentStringsW"));
  const FreeFn release =
      reinterpret_cast<FreeFn>(win32::SystemFunction("kernel32.dll", "FreeEnvironmentStringsW"));
  wchar_t* block = get != nullptr && release != nullptr ? get() : nullptr;
  if (block == nullptr) return false;
  const wchar_t* end = block;
  while (*end != L'\0') end += wcslen(end) + 1;
  // Given back however the copy ends, running out of memory included.
  struct Held {
    ~Held() { release(block); }
    FreeFn release;
    wchar_t* block;
  } held = {release, block};
  out->assign(static_cast<const wchar_t*>(block), end + 1);
  return true;
}

// The value that the environment entry |entry| gives TEMP or TMP, whose case does not matter;
// null when it sets another variable.
const wchar_t* TempValue(const wchar_t* entry) {
  for (const wchar_t* name : {L"TEMP", L"TMP"}) {
    const int n = static_cast<int>(wcslen(name));
    if (wcslen(entry) > static_cast<size_t>(n) && entry[n] == L'=' &&
        CompareStringOrdinal(entry, n, name, n, TRUE) == CSTR_EQUAL) {
      return entry + n + 1;
    }
  }
  return nullptr;
}

// The launcher's environment with TEMP and TMP naming the folder |temp| and set nowhere else, as
// one block that CreateProcessW takes with CREATE_UNICODE_ENVIRONMENT; false when the
// launcher's own cannot be read.
bool EnvironmentWithTemp(const Text& temp, Text* out) {
  Text environment;
  if (!ReadEnvironment(&environment)) return false;
  Text block;
  for (const wchar_t* entry = environment.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
    if (TempValue(entry) == nullptr) block.insert(block.end(), entry, entry + wcslen(entry) + 1);
  }
  for (const wchar_t* name : {L"TEMP=", L"TMP="}) {
    block.insert(block.end(), name, name + wcslen(name));
    block.insert(block.end(), temp.begin(), temp.end());
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  out->swap(block);
  return true;
}

}  // namespace

bool OwnTempIsPrivate() {
  Text environment;
  if (!ReadEnvironment(&environment)) return false;
  for (const wchar_t* entry = environment.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
    const wchar_t* path = TempValue(entry);
    if (path == nullptr) continue;
    // The run's own folder, its links followed: the path comes from the account's own
    // environment. An administrator's Temp lies in their profile, whose folders only they and the
    // system may change; the system account's is C:\Windows\Temp, which users may add to, so it
    // is never private. Only a Temp that an administrator moved below a folder that users may
    // change could be led elsewhere after this check. Opened for its descriptor alone and shared
    // with every other opener, the open breaks no lock that another program holds on it.
    const HANDLE h = CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool isPrivate = win32::IsPrivate(h);
    CloseHandle(h);
    if (!isPrivate) return false;
  }
  return true;
}

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

namespace {

// What CreateProcessW is given for the copy in a room: its full path, the room as its current
// directory, and the environment block, empty for the launcher's own.
struct Launch {
  Text program;
  Text folder;
  Text environment;
};

// The launch of the copy |name| in the held |room|, whose Temp folder is |temp| when it is open;
// false when a path or the launcher's environment cannot be read.
bool LaunchOf(const Folder& room, const Folder& temp, const std::string& name, Launch* out) {
  Text temporary;
  if (!FolderPath(room, &out->folder) ||
      (FolderAccess::IsOpen(temp) &&
       (!FolderPath(temp, &temporary) || !EnvironmentWithTemp(temporary, &out->environment)))) {
    return false;
  }
  const Text wide = win32::Wide(name);
  Text program = out->folder;
  program.push_back(L'\\');
  program.insert(program.end(), wide.begin(), wide.end());
  out->program.swap(program);
  return true;
}

// Creates the process of |launch| suspended, with |commandLine|, the show hint |show| and, when
// given, the one handle |inherited|; ERROR_SUCCESS, or the system's error.
DWORD CreateSuspended(const Launch& launch, const std::string& commandLine, uint16_t show,
                      HANDLE inherited, PROCESS_INFORMATION* info) {
  STARTUPINFOEXW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.StartupInfo.cb = sizeof(startup);
  // No standard handles: those the launcher got from its caller are not passed on either.
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = show;
  ZeroMemory(info, sizeof(*info));
  const bool unicode = !launch.environment.empty();
  DWORD error = ERROR_SUCCESS;
  // First with the library policy; a system that does not offer it refuses the attribute or
  // the creation, and the program then starts without it.
  for (const DWORD64* policy : {&kPreferSystem32Libraries, static_cast<const DWORD64*>(nullptr)}) {
    // Only the listed handle is inherited, whatever else of the launcher's is inheritable.
    Attributes attributes(inherited ? &inherited : nullptr, policy);
    if (attributes.failed()) {
      error = GetLastError();
      if (policy) continue;
      break;
    }
    startup.lpAttributeList = attributes.list();
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    win32::WideText buffer = win32::Widen(commandLine);
    // Suspended until it is in its job, so that nothing it starts can escape the job unasked.
    error =
        CreateProcessW(Terminated(launch.program).data(), buffer.data(), nullptr, nullptr,
                       inherited ? TRUE : FALSE,
                       CREATE_SUSPENDED | (attributes.list() ? EXTENDED_STARTUPINFO_PRESENT : 0) |
                           (unicode ? CREATE_UNICODE_ENVIRONMENT : 0),
                       unicode ? const_cast<wchar_t*>(launch.environment.data()) : nullptr,
                       Terminated(launch.folder).data(), &startup.StartupInfo, info)
            ? ERROR_SUCCESS
            : GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED) break;
  }
  return error;
}

// Puts the created process |info| in a job of its own, given in |*job|, and lets it run;
// ERROR_SUCCESS, or the error that ended it before it ran. Without a job (a system that does not
// nest jobs, for a launcher started in one), the room is removed once the program ends, as far
// as the system lets what still runs be removed.
DWORD RunInJob(const PROCESS_INFORMATION& info, base::ScopedHandle<ProcessPolicy>* job) {
  *job = base::ScopedHandle<ProcessPolicy>(AsNumber(MakeJob()));
  if (job->IsValid() && !AssignProcessToJobObject(AsHandle(job->Get()), info.hProcess)) {
    job->Close();
  }
  if (ResumeThread(info.hThread) != static_cast<DWORD>(-1)) return ERROR_SUCCESS;
  const DWORD error = GetLastError();
  TerminateProcess(info.hProcess, error);
  return error;
}

}  // namespace

const uint32_t Process::kRefusedByRule = ERROR_ACCESS_DISABLED_BY_POLICY;

StartResult Process::PlatformStart(CleanRoom* room, const std::string& commandLine, uint16_t show,
                                   const File* shared, Process* out) {
  Launch launch;
  if (!LaunchOf(room->room_, room->temp_, room->copyName_, &launch)) {
    return StartResult{StartFailure::kFailed, 0};
  }
  const HANDLE inherited =
      shared && shared->IsOpen() ? AsHandle(FileAccess::NativeHandle(*shared)) : nullptr;
  PROCESS_INFORMATION info;
  DWORD error = CreateSuspended(launch, commandLine, show, inherited, &info);
  if (error != ERROR_SUCCESS) return StartFailed(error);
  Process process;
  process.thread_ = base::ScopedHandle<ProcessPolicy>(AsNumber(info.hThread));
  process.process_ = base::ScopedHandle<ProcessPolicy>(AsNumber(info.hProcess));
  base::ScopedHandle<ProcessPolicy> job;
  error = RunInJob(info, &job);
  if (error != ERROR_SUCCESS) return StartFailed(error);
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
