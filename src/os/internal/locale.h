// The languages in which the seam looks up a file's version resource.
#pragma once

#include "pe/pe_version.h"

namespace os {

// The languages of the calling thread, the user and the system, as the system's resource lookup
// takes them; each platform's own (os/*/locale.cc).
pe::LanguagePreference ResourceLanguages();

}  // namespace os
