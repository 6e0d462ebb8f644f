// The ntdll calls that open, rename and list files and folders and read their security: their
// status codes, flags, structures and function types, declared here rather than taken from the
// driver kit.
#pragma once

#include <windows.h>

namespace os {
namespace nt {

typedef LONG NtStatus;

const NtStatus kSuccess = 0;
// A success: the open returned a handle, and another program's opportunistic lock is being broken.
const NtStatus kOplockBreakInProgress = static_cast<NtStatus>(0x00000108);
const NtStatus kObjectNameNotFound = static_cast<NtStatus>(0xC0000034);
const NtStatus kObjectPathNotFound = static_cast<NtStatus>(0xC000003A);
const NtStatus kSharingViolation = static_cast<NtStatus>(0xC0000043);
const NtStatus kDeletePending = static_cast<NtStatus>(0xC0000056);
const NtStatus kAccessDenied = static_cast<NtStatus>(0xC0000022);
const NtStatus kNotADirectory = static_cast<NtStatus>(0xC0000103);
const NtStatus kFileIsADirectory = static_cast<NtStatus>(0xC00000BA);
const NtStatus kDiskFull = static_cast<NtStatus>(0xC000007F);
const NtStatus kInvalidOwner = static_cast<NtStatus>(0xC000005A);
const NtStatus kBufferTooSmall = static_cast<NtStatus>(0xC0000023);

// NtCreateFile's dispositions and options.
const ULONG kFileOpen = 1;
const ULONG kFileCreate = 2;
const ULONG kDirectoryFile = 0x00000001;
const ULONG kSynchronousIo = 0x00000020;
const ULONG kNonDirectoryFile = 0x00000040;
const ULONG kCompleteIfOplocked = 0x00000100;
const ULONG kOpenReparsePoint = 0x00200000;
const ULONG kFileOpenIf = 3;
const ULONG kCaseInsensitive = 0x00000040;  // names match as the file system matches them
const ULONG kInherit = 0x00000002;
// NtSetInformationFile's and NtQueryDirectoryFile's classes.
const ULONG kFileRenameInformation = 10;
const ULONG kFileNamesInformation = 12;

struct CountedText {
  USHORT length;  // in bytes
  USHORT maximumLength;
  wchar_t* buffer;
};

struct ObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  CountedText* objectName;
  ULONG attributes;
  void* securityDescriptor;
  void* securityQualityOfService;
};

struct IoStatus {
  union {
    NtStatus status;
    void* pointer;
  };
  ULONG_PTR information;
};

struct RenameInformation {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;  // in bytes
  wchar_t fileName[1];
};

struct NamesInformation {
  ULONG nextEntryOffset;
  ULONG fileIndex;
  ULONG fileNameLength;  // in bytes
  wchar_t fileName[1];
};

typedef NtStatus(NTAPI* CreateFileFn)(HANDLE*, ACCESS_MASK, ObjectAttributes*, IoStatus*,
                                      LARGE_INTEGER*, ULONG, ULONG, ULONG, ULONG, void*, ULONG);
typedef NtStatus(NTAPI* SetInformationFn)(HANDLE, IoStatus*, void*, ULONG, ULONG);
typedef ULONG(NTAPI* ToDosErrorFn)(NtStatus);
typedef NtStatus(NTAPI* QueryDirectoryFn)(HANDLE, HANDLE, void*, void*, IoStatus*, void*, ULONG,
                                          ULONG, BOOLEAN, CountedText*, BOOLEAN);
typedef NtStatus(NTAPI* QuerySecurityFn)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, ULONG,
                                         ULONG*);

// The ntdll function |name|: ntdll is in every process from its start, always the system's own,
// so that the lookup loads nothing.
template <typename Fn>
Fn Ntdll(const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

}  // namespace nt
}  // namespace os
