// The POSIX build's VerQueryValueA: the VS_VERSIONINFO tree of a version block that our PE
// reader filled (pe_version.h), walked as Windows' version library walks it, its texts handed
// back in cp1252 as WideCharToMultiByte converts them.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
namespace pe {

// VerQueryValueA over a block that ReadVersionBlock filled; see platform::QueryVersionValue.
bool QueryVersionBlock(const void* block, const std::string& subBlock, const void** value,
                       uint32_t* length);

}  // namespace pe
}  // namespace platform
