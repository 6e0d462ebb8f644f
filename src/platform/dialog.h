// The modal message box, the only thing the program ever shows.
#pragma once

namespace platform {

constexpr unsigned kMbOk = 0x00000000;
constexpr unsigned kMbIconHand = 0x00000010;
constexpr int kIdOk = 1;

// MessageBoxA with no owner window; returns the button pressed (0 when no box could be shown).
int ShowMessageBox(const char* caption, const char* text, unsigned style);

}  // namespace platform
