// The entries of a held folder, opened one at a time without following a link, for the removal
// rules that folder.cc writes once; each platform defines the steps below.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "os/file.h"

namespace os {

// A name in a held folder as the system spells it: UTF-16 on Windows, whatever it holds beyond
// the ANSI code page, and bytes on POSIX.
#ifdef _WIN32
using EntryName = std::vector<wchar_t>;
#else
using EntryName = std::string;
#endif

// How an entry is given back. Not counted by the fault seam: a removal ignores its closes' answer.
struct EntryPolicy {
  using Handle = intptr_t;  // a HANDLE on Windows, a descriptor on POSIX
  static constexpr Handle kInvalid = -1;
  static bool Close(Handle handle);
};

using Entry = base::ScopedHandle<EntryPolicy>;

// What an entry is, read through its handle once it is open.
enum class EntryKind {
  kFolder,
  kFile,   // a plain file of one name
  kOther,  // a link, a reparse point, a file of several names, or anything else: never removed
};

// How an entry is opened.
enum class EntryUse {
  kInTree,    // whoever else has it open, as the entries of a tree being removed
  kLeftover,  // a file that a killed run of this program left: one that nobody else holds
              // (kInUse otherwise), owned by the administrators, the system or this program's
              // own user (any other file reads as kOther)
};

// A name of an entry in a held folder: bare, and naming neither the folder itself nor its
// parent.
inline bool IsEntryName(const std::string& name) {
  return FileLocation::IsBareName(name) && name != "." && name != "..";
}

// |name| (in the ANSI code page) as the system spells it.
EntryName EntryNameOf(const std::string& name);

// Adds the names in the held |folder| that start with |prefix| (on Windows whatever their ASCII
// case), "." and ".." aside, to |*out|; false when it could not be listed to its end. On Windows
// a listing ends at its first failure, and the names found are enough.
bool ListEntries(intptr_t folder, const std::string& prefix, std::vector<EntryName>* out);

// Opens the entry |name| of the held |folder| as |use| asks, without following a link or a
// reparse point, with the rights to read what it is and to delete it, and tells its |*kind|.
OpenStatus OpenEntry(intptr_t folder, const EntryName& name, EntryUse use, Entry* out,
                     EntryKind* kind);

// Takes the open folder |entry| for its removal: kRefused unless only the administrators and the
// system may change it (on POSIX only root and this program's user), kInUse while a run still
// holds it (see Folder::MakePrivateFolder), whose hold on Windows refused the open already.
OpenStatus TakePrivateFolder(Entry* entry);

// Deletes the open entry |entry| of |kind|, named |name| in the held |folder|, through its handle
// where the system can (on POSIX by its name, while it still names that entry).
OpenStatus DeleteEntry(intptr_t folder, const EntryName& name, const Entry& entry, EntryKind kind);

}  // namespace os
