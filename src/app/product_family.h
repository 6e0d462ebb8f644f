// The installed edition of the product family: application name, settings key and locale.
#pragma once

#include <cstdint>
#include <string>

class COrvaPatchApp;

// The edition code, 0 to 4, from "Soft name" under Software\ORVANE S.A. of the user's hive, or
// of the machine's when the user has no such key; 1 when nothing names an edition.
int GetProductEdition();

// The locale override "ThreadLocal" (hexadecimal) of the edition's family root, created when
// missing; the thread's locale when there is no usable override.
uint32_t GetProductLcid();

// Sets the application name, the settings key (in |app| and as the framework's registry key)
// and the C runtime's locale for the installed edition.
void InitProductFamily(COrvaPatchApp& app);

// Puts |name| (null counts as empty) behind |directory| with one backslash between them, unless
// |directory| already ends in a separator; one leading separator of |name| is dropped. An empty
// |directory| becomes |name|. Returns 1.
int JoinPath(const char* name, std::string& directory);
