// The locale identifiers of the user and of the calling thread.
#pragma once

#include <cstdint>

namespace platform {

// GetThreadLocale.
uint32_t ThreadLocale();

// GetUserDefaultLangID.
uint16_t UserDefaultLangId();

}  // namespace platform
