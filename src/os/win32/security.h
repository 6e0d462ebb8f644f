// Security descriptors for files that the elevated launcher creates where other accounts may write.
#pragma once

#include <vector>

namespace os {
namespace win32 {

// The owner and DACL of the open file, folder or registry key |handle| (a HANDLE or an HKEY that
// the program opened), as a self-relative descriptor, read as the system by a call that loads
// nothing; false when they cannot be read. |out| is left untouched on failure.
[[nodiscard]] bool ReadOwnerAndDacl(void* handle, std::vector<unsigned char>* out);

// From the self-relative descriptor |source|, the self-relative descriptor of a file that may
// replace it: the same DACL, with its protection and inheritance flags, and the same owner when
// |withOwner|; no group and no SACL. |out| is left untouched on failure.
[[nodiscard]] bool ReplacementSecurity(const void* source, bool withOwner,
                                       std::vector<unsigned char>* out);

// The self-relative descriptor of a clean room: a protected DACL that grants full access to the
// Administrators group and the system only, inherited by everything made inside, and no entry
// inherited from the folder above; with |administratorsOwn|, the Administrators group as its
// owner. |out| is left untouched on failure.
[[nodiscard]] bool CleanRoomSecurity(bool administratorsOwn, std::vector<unsigned char>* out);

// Reads, as the process, the accounts whose files count as this program's: its token's user and
// default owner, and the user of |actedFor| (a token, or null), the user the run acts for. Called
// before any thread acts for that user, whose rights are denied the process's token; later checks
// make no token call.
void RememberOwnAccounts(void* actedFor);

// True when the open file |handle| is owned by the Administrators group, the system, or the user
// or default owner of this program's token: no standard user can give a file any of these owners;
// or by the user the run acts for (RememberOwnAccounts), whose rights then remove what it made
// for them.
bool OwnedByThisProgramsKind(void* handle);

// True when only the Administrators group, the system, or the user or default owner of this
// program's token may change the open folder |handle|: it has one of them as its owner, and its
// DACL grants no other account the right to add, delete or rename anything in it, nor to change
// its access or its owner.
bool IsPrivate(void* handle);
// The same for the self-relative descriptor |descriptor| of a folder, with its owner and DACL.
bool IsPrivateDescriptor(const void* descriptor);
// The same rule for the descriptor of a registry key: one of them owns it, and its DACL grants no
// other account the right to set a value, make a subkey or a link, delete the key, or change its
// access or its owner.
bool IsPrivateKeyDescriptor(const void* descriptor);

// The restore privilege, which lets an administrator give a file another account as its owner,
// enabled for the life of this object only, then put back as it was. Harmless where the token
// does not hold it; nothing is done while the thread has a user's rights, which it cannot reach.
class RestorePrivilege {
 public:
  RestorePrivilege();
  ~RestorePrivilege();
  RestorePrivilege(const RestorePrivilege&) = delete;
  RestorePrivilege& operator=(const RestorePrivilege&) = delete;

 private:
  void* token_ = nullptr;
  bool enabled_ = false;  // by this object, and so to be disabled again
};

}  // namespace win32
}  // namespace os
