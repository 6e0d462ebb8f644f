// The modal message box, the only thing the program ever shows.
#pragma once

namespace os {

constexpr unsigned kMbOk = 0x00000000;
constexpr unsigned kMbIconHand = 0x00000010;
constexpr int kIdOk = 1;

// MessageBoxA with no owner window; returns the button pressed. 0 when no box could be shown,
// or when the process's window station is one that nobody sees (a program started by a
// deployment agent as SYSTEM in session 0), where a box would wait for ever: none is shown.
int ShowMessageBox(const char* caption, const char* text, unsigned style);

}  // namespace os
