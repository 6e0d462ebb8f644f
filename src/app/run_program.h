// Starting a program beside the launcher and waiting for it.
#pragma once

#include <cstdint>

#include "platform/file.h"

// Starts |program| with the command line "\"program\" arguments". A bare file name is taken from
// the launcher's own directory only. With |wait| nonzero, blocks without time-out and returns
// the exit code; without, returns 0 once started. -1: not started, or no exit code. |started|,
// when given, tells whether the program was started at all. The program runs in the launcher's
// folder and inherits |shared| alone of the launcher's files, when given. With |sha256| (32
// bytes), only a program file with that SHA-256 is started, and it is held against writers,
// renames and removal until the program has ended (or at once, without |wait|).
int RunProgram(const char* program, const char* arguments, int showMode, int wait,
               bool* started = nullptr, const platform::File* shared = nullptr,
               const uint8_t* sha256 = nullptr);
