// The rooms' folder: the administrators' own folder in the system's Temp folder, which holds the
// clean rooms and the update locks.
#pragma once

#include "os/folder.h"

namespace os {

// The rooms' folder's name in the system's Temp folder.
extern const char kRoomsFolder[];

// Opens the system's Temp folder, the Windows directory's own: never the user's %TEMP%, which the
// user may write.
OpenStatus OpenTempFolder(Folder* out, Failure* why);

}  // namespace os
