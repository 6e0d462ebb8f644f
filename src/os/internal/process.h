// What a clean room asks of each platform about the programs it starts and the run's Temp.
#pragma once

#include "base/scoped_handle.h"
#include "os/process.h"

namespace os {

// True while a program that a clean room's program started, or that program itself, still runs:
// on Windows the processes of its job |programs|, on POSIX this program's own children (orphans
// come back to it, as to a subreaper). Each platform defines it.
bool ProgramsRun(const base::ScopedHandle<ProcessPolicy>& programs);

// Whether the run's own Temp folders, those its TEMP and TMP name, let no standard user add
// anything to them, as an administrator's own Temp does; false for the system account's
// C:\Windows\Temp, where every user may make files and folders, and when either cannot be
// checked. Each platform defines it.
bool OwnTempIsPrivate();

}  // namespace os
