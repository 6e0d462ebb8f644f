// libFuzzer target for our PE version reader: each input is read as a whole PE
// image and as a bare version block, and every query that CFileVersionInfo::Load makes is run on
// what could be read; every byte handed back is touched, so AddressSanitizer sees any read outside
// the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pe/pe_version.h"
#include "pe/version_block.h"
#include "version/file_version_info.h"

namespace {

volatile unsigned g_sink;

void Touch(const void* value, uint32_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(value);
  unsigned sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum += p[i];
  g_sink = sum;
}

void QueryAll(std::vector<unsigned char>& block) {
  using platform::pe::QueryVersionBlock;
  const void* value = nullptr;
  uint32_t length = 0;
  for (const char* sub : {"\\", "", "\\StringFileInfo", "\\VarFileInfo", "\\\\x\\"}) {
    if (QueryVersionBlock(block.data(), sub, &value, &length)) Touch(value, length);
  }
  const void* table = nullptr;
  uint32_t tableLength = 0;
  if (!QueryVersionBlock(block.data(), "\\VarFileInfo\\Translation", &table, &tableLength)) return;
  Touch(table, tableLength);
  uint32_t entry = 0;
  if (!CFileVersionInfo::ChooseLanguageEntry(0x040C, table, tableLength, &entry)) return;
  char prefix[40];
  std::snprintf(prefix, sizeof(prefix), "\\StringFileInfo\\%04X%04X\\",
                static_cast<unsigned>(entry & 0xFFFF), static_cast<unsigned>(entry >> 16));
  for (const char* key : CFileVersionInfo::kStringKeys) {
    if (QueryVersionBlock(block.data(), std::string(prefix) + key, &value, &length)) {
      Touch(value, length);
    }
  }
}

void ReadAndQuery(platform::pe::ByteSource& source, const platform::pe::VersionResource& resource) {
  std::vector<unsigned char> block(platform::pe::VersionBufferSize(resource));
  if (platform::pe::ReadVersionBlock(source, resource, static_cast<uint32_t>(block.size()),
                                     block.data())) {
    QueryAll(block);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::pe::MemorySource source(data, size);
  // As a PE image, in two users' languages.
  for (uint16_t lang : {uint16_t(0x040C), uint16_t(0x0409)}) {
    platform::pe::LanguagePreference languages;
    languages.thread = languages.user = languages.system = lang;
    platform::pe::VersionResource resource;
    if (platform::pe::FindVersionResource(source, languages, &resource)) {
      ReadAndQuery(source, resource);
    }
  }
  // As the version data itself.
  platform::pe::VersionResource whole;
  whole.offset = 0;
  whole.length = static_cast<uint32_t>(
      size < platform::pe::kMaxVersionData ? size : platform::pe::kMaxVersionData);
  ReadAndQuery(source, whole);
  return 0;
}
