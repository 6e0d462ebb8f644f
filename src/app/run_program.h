// Starting a program beside the launcher from a clean room, and waiting for it.
#pragma once

#include <cstdint>

#include "os/file.h"
#include "os/process.h"

// Runs a copy of |program| from a clean room, waiting for it when asked.
// The command line is "\"program\" arguments"; a bare file name is taken from the launcher's own
// directory only. The program's bytes are first copied into a clean room, a folder that only the
// administrators and the system can write, and the copy is what runs, in that folder, held against
// every change until it has ended; the room is removed afterwards. With |wait| nonzero, blocks
// without time-out and returns the exit code; without, returns 0 once started. -1: not started, or
// no exit code. |start|, when given, tells whether the program was started, and if not, why. It
// inherits |shared| alone of the launcher's files, when given. With |sha256| (32 bytes), only bytes
// with that SHA-256 are started.
int RunProgram(const char* program, const char* arguments, int showMode, int wait,
               os::StartResult* start = nullptr, const os::File* shared = nullptr,
               const uint8_t* sha256 = nullptr);
