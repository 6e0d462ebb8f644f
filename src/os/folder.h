// Folders held open while the files in them are updated: every name is looked up in a folder that
// this program holds, never through a link, and files are replaced and removed through handles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "os/file.h"

namespace os {

namespace internal {
class FolderAccess;
}  // namespace internal

// A move-only owner of one open folder. On Windows it is held without delete sharing, so that
// nobody can rename or remove it while it is held. A call that fails tells why in |*why|, when
// given.
class Folder {
 public:
  // Opens the folder |path|, a Windows path in the ANSI code page, or the launcher's own folder
  // for a file beside the launcher with an empty name. The folders above it are the
  // administrator's: the path may name them in any way the system resolves (short names, a
  // drive letter that leads to another folder, a share: \\server\share\...), and their links
  // are followed. The folder itself is opened in its parent without following a link or reparse
  // point; on Windows its final path must be its parent's and its own name. |out| is left
  // untouched on failure.
  [[nodiscard]] static OpenStatus Open(const FileLocation& path, Folder* out,
                                       Failure* why = nullptr);

  // Opens the folder |name| (a bare name) in this one; refused when it is a link or reparse point.
  [[nodiscard]] OpenStatus OpenFolder(const std::string& name, Folder* out,
                                      Failure* why = nullptr) const;

  // Opens the file |name| in this folder as |mode| asks: kRead with no other opener, kReadShared
  // shared with readers, kAppend and kTruncate for reading and writing, shared with readers (on
  // POSIX no other opener that locks it), created when missing, kAppend positioned at the end,
  // kTruncate cut to length 0 (in the open's one counted step: a file is made only when opened),
  // kCreateNew made by this open, with no other opener.
  // Refused when it is a link, a reparse point or a folder, or has more than one name (a hard
  // link). An |inheritable| file stays open in programs started while it is open.
  [[nodiscard]] OpenStatus OpenFile(const std::string& name, FileMode mode, bool inheritable,
                                    File* out, Failure* why = nullptr) const;
  // The existing file |name| for reading, with no other opener.
  [[nodiscard]] OpenStatus OpenFile(const std::string& name, File* out,
                                    Failure* why = nullptr) const {
    return OpenFile(name, FileMode::kRead, false, out, why);
  }

  // Creates a new file in this folder to replace |original| (open from OpenFile), for writing
  // with no other opener, under an unpredictable name that starts with |prefix|, given in
  // |*name|. It takes over |original|'s owner where the system lets this program set it, its
  // DACL, creation time and kept attributes on Windows, its mode, owner and group on POSIX.
  [[nodiscard]] bool CreateReplacement(const File& original, const std::string& prefix,
                                       std::string* name, File* out, Failure* why = nullptr) const;

  // Puts the file |written| (from CreateReplacement, named |temporary|) in place of the file
  // |name| in one step: the folder then names either its old file or the whole new one. On
  // Windows through the handle, relative to this folder. |written| stays open.
  [[nodiscard]] OpenStatus Replace(File* written, const std::string& temporary,
                                   const std::string& name, Failure* why = nullptr) const;

  // Removes the file |written| (from CreateReplacement, named |temporary|) and closes it; on
  // Windows through its handle.
  bool Discard(File* written, const std::string& temporary) const;

  // Removes the files of this folder whose names start with |prefix| and that are certainly what
  // a killed run of this program left: plain files of one name, owned by the administrators, the
  // system or this program's own user, held by nobody. Each is opened and removed through its
  // handle; nothing else is removed.
  void RemoveLeftovers(const std::string& prefix) const;

 private:
  // The seam's own code opens the folders of the system and of the clean rooms, and lists and
  // removes what they hold, which the program outside it never does.
  friend class internal::FolderAccess;

  // Opens the folder |path| that the system gives (the Windows directory, the elevated user's
  // Documents), every link on its way followed, its own included: only the system or that user
  // may write where it leads. The files in it are opened as in any held folder.
  [[nodiscard]] static OpenStatus OpenSystemFolder(const FileLocation& path, Folder* out,
                                                   Failure* why = nullptr);

  // Opens the folder |name| in this one, made when missing, that only the administrators and the
  // system may change (on POSIX only root and this program's user): refused when it is a link,
  // or when its owner or its access lets anyone else write in it, whoever made it.
  [[nodiscard]] OpenStatus OpenPrivateFolder(const std::string& name, Folder* out,
                                             Failure* why = nullptr) const;

  // Makes the new folder |name| in this one, that only the administrators and the system may
  // change, and holds it: nobody can rename or remove it while it is held (on POSIX it is held
  // under an exclusive lock). An existing folder of that name is never taken over.
  [[nodiscard]] OpenStatus MakePrivateFolder(const std::string& name, Folder* out,
                                             Failure* why = nullptr) const;

  // Removes what the folder |name| holds, and with |withFolder| the folder itself: files of one
  // name, and folders emptied first, at most |depth| levels down; a link, which is never followed,
  // stays, and with it the folders above it. A folder that a run still holds (see
  // MakePrivateFolder) is left whole: kInUse, as for an entry that a program still uses. kRefused
  // when something else stays.
  [[nodiscard]] OpenStatus RemoveTree(const std::string& name, int depth, bool withFolder) const;

  // The names in this folder that start with |prefix| (on Windows whatever their ASCII case);
  // those found before a failure, or none.
  std::vector<std::string> Names(const std::string& prefix) const;

  bool IsOpen() const { return handle_.IsValid(); }
  // The platform's handle (a directory HANDLE on Windows, a descriptor on POSIX).
  intptr_t NativeHandle() const { return handle_.Get(); }

  // The public calls count themselves at the fault seam, then take one of these steps, which
  // each platform defines.
  [[nodiscard]] static OpenStatus PlatformOpen(const FileLocation& path, Folder* out, Failure* why);
  [[nodiscard]] static OpenStatus PlatformOpenSystemFolder(const FileLocation& path, Folder* out,
                                                           Failure* why);
  [[nodiscard]] OpenStatus PlatformOpenFolder(const std::string& name, Folder* out,
                                              Failure* why) const;
  [[nodiscard]] OpenStatus PlatformOpenPrivateFolder(const std::string& name, Folder* out,
                                                     Failure* why) const;
  [[nodiscard]] OpenStatus PlatformMakePrivateFolder(const std::string& name, Folder* out,
                                                     Failure* why) const;
  std::vector<std::string> ReadNames(const std::string& prefix) const;
  [[nodiscard]] OpenStatus PlatformOpenFile(const std::string& name, FileMode mode,
                                            bool inheritable, File* out, Failure* why) const;
  [[nodiscard]] bool PlatformCreateReplacement(const File& original, const std::string& prefix,
                                               std::string* name, File* out, Failure* why) const;
  [[nodiscard]] OpenStatus PlatformReplace(File* written, const std::string& temporary,
                                           const std::string& name, Failure* why) const;
  // Closes |written| and, with |remove|, removes it.
  bool PlatformDiscard(File* written, const std::string& temporary, bool remove) const;

  base::ScopedHandle<FilePolicy> handle_;  // a directory HANDLE on Windows, a descriptor on POSIX
};

// Keeps other runs of the program from updating the file |name| of |folder| while it is held: one
// run at a time holds it, and it is released when the run ends, however it ends. It is a file of
// the rooms' folder (C:\Windows\Temp\OrvaPatch), which only the administrators and the system
// can write, held open for writing, which no second writer can: no standard user can make it
// first or hold it. It is taken as the system even while the run acts for a user, and named
// after the file's identity (on Windows the held folder's final path and the file's name, their
// case folded; on POSIX the folder's device and inode and the name, its ASCII case folded), so
// that every spelling of the folder takes the same lock. The file stays, empty, for later runs.
class UpdateLock {
 public:
  // Takes the lock of the file |name| (a bare name) in the held |folder|, waiting up to
  // |milliseconds| for the run that holds it: kDone, kInUse when another run still holds it,
  // kRefused when the rooms' folder is not certainly the administrators' (a standard user made
  // it, or it is a link), another status when it could not be reached.
  [[nodiscard]] OpenStatus Acquire(const Folder& folder, const std::string& name,
                                   unsigned milliseconds);

 private:
  // The identity of the file |name| in |folder| that the lock is named after, the same for every
  // spelling of the folder; each platform defines it.
  [[nodiscard]] static bool Identity(const Folder& folder, const std::string& name,
                                     std::string* out);

  File file_;
};

// Opens |file| in the folder that holds it, a folder that the system gives, opened as
// Folder::OpenSystemFolder opens it, and the file as Folder::OpenFile does.
[[nodiscard]] OpenStatus OpenInSystemFolder(const FileLocation& file, FileMode mode,
                                            bool inheritable, File* out);

// Waits |milliseconds|, for another program to let go of a file.
void Pause(unsigned milliseconds);

// Runs |step| (an open or a replace, giving an OpenStatus) again while another program holds the
// file: a virus scanner or an indexer holds one for a moment only. The waits double from 50 ms
// and stop before they pass 2 s in all.
template <typename Step>
OpenStatus Patiently(Step step) {
  OpenStatus status = step();
  for (unsigned wait = 50, waited = 0; status == OpenStatus::kInUse && waited + wait <= 2000;
       waited += wait, wait *= 2) {
    Pause(wait);
    status = step();
  }
  return status;
}

}  // namespace os
