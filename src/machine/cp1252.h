// cp1252, the ANSI code page of the emulated workstation, converted as Windows converts it.
#pragma once

#include <cstdint>
#include <string>

namespace machine {

// The Unicode code point of the cp1252 byte |c|; the five unassigned bytes stand for the C1
// control of the same value, as Windows maps them.
uint16_t Cp1252ToUnicode(uint8_t c);

// The cp1252 byte of the Unicode code point |u|: exactly, else with |bestFit| by Windows' best fit
// (WideCharToMultiByte's default), else '?'.
uint8_t UnicodeToCp1252(uint32_t u, bool bestFit);

// cp1252 bytes to UTF-8, and back (characters cp1252 cannot hold exactly become '?').
std::string Cp1252ToUtf8(const std::string& text);
std::string Utf8ToCp1252(const std::string& text);

}  // namespace machine
