// libFuzzer target for our PE version reader: each input is read as a whole PE image and as a
// bare version block, by the launcher's direct road and through the three calls of a version
// library laid out as the system's; the two must give the same result and fields. Every byte a
// query hands back is touched, so AddressSanitizer sees any read outside the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "verinfo/version_library.h"
#include "pe/pe_version.h"
#include "version/file_version_info.h"

namespace {

volatile unsigned g_sink;

void Touch(const void* value, uint32_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(value);
  unsigned sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum += p[i];
  g_sink = sum;
}

// The input and the resource in it that the memory library below serves, whatever the path.
pe::ByteSource* g_source;
pe::VersionResource g_resource;

uint32_t MemorySize(const std::string&, uint32_t* handle) {
  *handle = 0;
  return verinfo::VersionBufferSize(g_resource);
}

bool MemoryRead(const std::string&, uint32_t, uint32_t size, void* data) {
  if (!verinfo::ReadVersionBlock(*g_source, g_resource, size, data)) return false;
  // Paths the launcher never asks for: empty components, inner nodes, a missing key.
  for (const char* sub : {"", "\\StringFileInfo", "\\VarFileInfo", "\\\\x\\"}) {
    const void* value = nullptr;
    uint32_t length = 0;
    if (verinfo::QueryVersionBlock(data, sub, &value, &length)) Touch(value, length);
  }
  return true;
}

bool MemoryQuery(const void* block, const std::string& subBlock, const void** value,
                 uint32_t* length) {
  if (!verinfo::QueryVersionBlock(block, subBlock, value, length)) return false;
  Touch(*value, *length);
  return true;
}

const os::VersionLibrary kMemoryLibrary = {MemorySize, MemoryRead, MemoryQuery};

void ReadBothWays(pe::ByteSource& source, const pe::VersionResource& resource) {
  CFileVersionInfo direct;
  CFileVersionInfo queried;
  g_source = &source;
  g_resource = resource;
  const int result = direct.LoadForTesting(source, resource);
  if (verinfo::LoadThrough(kMemoryLibrary, "input", &queried) != result ||
      std::memcmp(&direct.m_FileInfo, &queried.m_FileInfo, sizeof(direct.m_FileInfo)) != 0) {
    std::abort();
  }
  for (int i = 0; i < 12; ++i) {
    if (direct.StringField(i) != queried.StringField(i)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pe::MemorySource source(data, size);
  // As a PE image, in two users' languages.
  for (uint16_t lang : {uint16_t(0x040C), uint16_t(0x0409)}) {
    pe::LanguagePreference languages;
    languages.thread = languages.user = languages.system = lang;
    pe::VersionResource resource;
    if (pe::FindVersionResource(source, languages, &resource)) {
      ReadBothWays(source, resource);
    }
  }
  // As the version data itself.
  pe::VersionResource whole;
  whole.offset = 0;
  whole.length = static_cast<uint32_t>(size < pe::kMaxVersionData ? size : pe::kMaxVersionData);
  ReadBothWays(source, whole);
  return 0;
}
