// Started programs on Windows: CreateProcessW with a handle list, CryptoAPI's SHA-256.
#include <windows.h>

#include <wincrypt.h>

#include <cstring>
#include <vector>

#include "platform/process.h"
#include "platform/win32/wide_path.h"

namespace platform {
namespace {

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The SHA-256 of what remains to be read of |file|, through the system's provider (advapi32,
// which the launcher imports anyway).
bool HashFile(HANDLE file, BYTE (&digest)[ProgramFile::kSha256Size]) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  HCRYPTHASH hash = 0;
  bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != 0;
  std::vector<BYTE> buffer(ok ? 65536 : 0);
  for (DWORD got = 1; ok && got > 0;) {
    ok = ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
         CryptHashData(hash, buffer.data(), got, 0);
  }
  DWORD size = sizeof(digest);
  ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof(digest);
  if (hash) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return ok;
}

// The attribute list that limits a started program's inherited handles to |*handle|; it must
// outlive the creation. Null when the list cannot be made.
using AttributeList = std::vector<BYTE>;
LPPROC_THREAD_ATTRIBUTE_LIST InheritOnly(HANDLE* handle, AttributeList* storage) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  storage->resize(size);
  auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage->data());
  if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return nullptr;
  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handle,
                                 sizeof(*handle), nullptr, nullptr)) {
    DeleteProcThreadAttributeList(list);
    return nullptr;
  }
  return list;
}

}  // namespace

bool ProgramFile::OpenChecked(const FileLocation& application, const uint8_t* sha256) {
  const win32::WideText path = win32::WidePath(application);
  if (path[0] == L'\0') return false;
  // Shared with readers only: no other program may write, rename or remove the file while it is
  // held, and the system, reading and executing it, can still start it.
  HANDLE file = CreateFileW(path.data(), GENERIC_READ | FILE_EXECUTE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ScopedHandle<ProgramFilePolicy> held(reinterpret_cast<intptr_t>(file));
  BYTE digest[kSha256Size];
  if (!HashFile(file, digest) || std::memcmp(digest, sha256, kSha256Size) != 0) return false;
  handle_ = std::move(held);
  return true;
}

bool ProgramFilePolicy::Close(Handle handle) { return CloseHandle(H(handle)) != 0; }

bool Process::Start(const FileLocation& application, const std::string& commandLine,
                    uint16_t show, const File* shared, const ProgramFile* /*checked*/,
                    Process* out) {
  // A checked file is held by its owner: the system opens it again by its name, which no other
  // program can give to another file while it is held.
  // The wide call: the launcher's folder, where the program lies, may hold characters that the
  // ANSI code page lacks. The command line is converted as CreateProcessA would convert it.
  const win32::WideText program = win32::WidePath(application);
  const win32::WideText folder = win32::WidePath(FileLocation::BesideLauncher(""));
  if (program[0] == L'\0' || folder[0] == L'\0') return false;  // nothing else may be searched
  STARTUPINFOEXW startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.StartupInfo.cb = sizeof(startup);
  // No standard handles: those the launcher got from its caller are not passed on either.
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = show;
  // Only the listed handle is inherited, whatever else of the launcher's is inheritable.
  HANDLE inherited = shared && shared->IsOpen() ? H(shared->NativeHandle()) : nullptr;
  AttributeList storage;
  if (inherited) {
    startup.lpAttributeList = InheritOnly(&inherited, &storage);
    if (!startup.lpAttributeList) return false;
  }
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof(info));
  // CreateProcessW may write into the command line, so it gets a buffer of its own.
  win32::WideText buffer = win32::Widen(commandLine);
  const BOOL created = CreateProcessW(
      program.data(), buffer.data(), nullptr, nullptr, inherited ? TRUE : FALSE,
      inherited ? EXTENDED_STARTUPINFO_PRESENT : 0, nullptr, folder.data(),
      &startup.StartupInfo, &info);
  if (startup.lpAttributeList) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (!created) return false;
  Process process;
  process.thread_ = ScopedHandle<ProcessPolicy>(reinterpret_cast<intptr_t>(info.hThread));
  process.process_ = ScopedHandle<ProcessPolicy>(reinterpret_cast<intptr_t>(info.hProcess));
  *out = std::move(process);
  return true;
}

bool Process::Wait() {
  return WaitForSingleObject(H(process_.Get()), INFINITE) == WAIT_OBJECT_0;
}

bool Process::ExitCode(uint32_t* code) {
  DWORD value = 0;
  if (!GetExitCodeProcess(H(process_.Get()), &value)) return false;
  *code = value;
  return true;
}

bool ProcessPolicy::Close(Handle handle) { return CloseHandle(H(handle)) != 0; }

}  // namespace platform
