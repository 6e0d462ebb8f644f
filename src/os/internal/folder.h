// The held folders' opens that only the seam takes.
#pragma once

#include "os/folder.h"

namespace os {

// Opens |file| in the folder that holds it, the folder opened as Folder::Open opens it and the
// file as Folder::OpenFile does: no link or second name below the folder that the path names is
// followed.
[[nodiscard]] OpenStatus OpenInHeldFolder(const FileLocation& file, FileMode mode, bool inheritable,
                                          File* out);

}  // namespace os
