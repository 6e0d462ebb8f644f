// Starting a program beside the launcher and waiting for it.
#pragma once

// Starts |program| with the command line "\"program\" arguments". A bare file name is taken from
// the launcher's own directory only. With |wait| nonzero, blocks without time-out and returns
// the exit code; without, returns 0 once started. -1: not started, or no exit code. |started|,
// when given, tells whether the program was started at all.
int RunProgram(const char* program, const char* arguments, int showMode, int wait,
               bool* started = nullptr);
