// Locale identifiers on Windows.
#include <windows.h>

#include "os/locale.h"

namespace platform {

uint32_t ThreadLocale() { return GetThreadLocale(); }

uint16_t UserDefaultLangId() { return GetUserDefaultLangID(); }

}  // namespace platform
