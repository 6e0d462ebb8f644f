// The version resource of a PE image, found as Windows' version library finds it.
#include "pe/pe_version.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/little_endian.h"

namespace pe {
namespace {

// ---------------------------------------------------------------------------------------------
// PE image: headers, sections, resource directory.

constexpr uint16_t kRtVersion = 16;     // RT_VERSION
constexpr uint16_t kVsVersionInfo = 1;  // VS_VERSION_INFO
constexpr size_t kSectionHeader = 40;
constexpr size_t kDirectoryHeader = 16;  // IMAGE_RESOURCE_DIRECTORY
constexpr size_t kDirectoryEntry = 8;    // IMAGE_RESOURCE_DIRECTORY_ENTRY
constexpr size_t kDataEntry = 16;        // IMAGE_RESOURCE_DATA_ENTRY

struct Section {
  uint32_t virtualSize;
  uint32_t virtualAddress;
  uint32_t rawSize;
  uint32_t rawPointer;
};

Section SectionAt(const std::vector<uint8_t>& table, size_t i) {
  const uint8_t* s = table.data() + i * kSectionHeader;
  return Section{base::ReadLe32(s + 8), base::ReadLe32(s + 12), base::ReadLe32(s + 16),
                 base::ReadLe32(s + 20)};
}

// The section whose raw data holds |rva| (the rule of Windows' version library), or -1.
long FindSection(const std::vector<uint8_t>& table, uint32_t rva) {
  size_t count = table.size() / kSectionHeader;
  for (size_t i = 0; i < count; ++i) {
    Section s = SectionAt(table, i);
    if (rva >= s.virtualAddress && rva < static_cast<uint64_t>(s.virtualAddress) + s.rawSize)
      return static_cast<long>(i);
  }
  return -1;
}

// Whether the system reads |section| of a file of |fileSize| bytes for its resources. It maps the
// image, taking the raw data, as far as the virtual size reaches in whole pages, from the file,
// which may end early only within its last 512-byte sector (the rest reads as zeros); when a
// section runs on further, it reads the raw data from the file itself, where it must all be.
bool SystemReadsSection(const Section& section, uint64_t fileSize) {
  const uint64_t reach = section.virtualSize ? section.virtualSize : section.rawSize;
  const uint64_t mapped = std::min<uint64_t>(section.rawSize, (reach + 0xFFF) & ~uint64_t{0xFFF});
  return section.rawPointer + mapped <= ((fileSize + 0x1FF) & ~uint64_t{0x1FF}) ||
         static_cast<uint64_t>(section.rawPointer) + section.rawSize <= fileSize;
}

// The resource directory as it lies in its section: offsets are relative to the directory's
// root; bytes past the section's raw data (up to its virtual size) read as zeros.
class ResourceArea {
 public:
  ResourceArea(ByteSource& source, uint64_t fileOffset, uint64_t rawAvailable, uint64_t size)
      : source_(source), fileOffset_(fileOffset), rawAvailable_(rawAvailable), size_(size) {}

  uint64_t size() const { return size_; }

  bool Read(uint64_t offset, void* out, size_t size) {
    if (offset > size_ || size > size_ - offset) return false;
    uint8_t* p = static_cast<uint8_t*>(out);
    std::memset(p, 0, size);
    if (offset >= rawAvailable_) return true;
    size_t fromFile = static_cast<size_t>(std::min<uint64_t>(size, rawAvailable_ - offset));
    if (source_.ReadAt(fileOffset_ + offset, p, fromFile)) return true;
    unreadable_ = true;
    return false;
  }

  // A read of the file failed: a search that found nothing cannot tell that nothing is there.
  bool Unreadable() const { return unreadable_; }

 private:
  ByteSource& source_;
  uint64_t fileOffset_;
  uint64_t rawAvailable_;
  uint64_t size_;
  bool unreadable_ = false;
};

// The entry with the numeric id |id| among a directory's id entries (a binary search, as the
// loader does): the offset of what it points to, checked to leave room for a directory header.
bool FindEntryById(ResourceArea& area, uint32_t directory, uint16_t id, uint32_t* target) {
  uint8_t header[kDirectoryHeader];
  if (!area.Read(directory, header, sizeof(header))) return false;
  uint32_t named = base::ReadLe16(header + 12);
  uint32_t ids = base::ReadLe16(header + 14);
  if (ids == 0) return false;
  uint64_t room = (area.size() - directory - kDirectoryHeader) / kDirectoryEntry;
  if (static_cast<uint64_t>(named) + ids > room) return false;
  int64_t low = named;
  int64_t high = static_cast<int64_t>(named) + ids - 1;
  while (low <= high) {
    int64_t middle = (low + high) / 2;
    uint8_t entry[kDirectoryEntry];
    if (!area.Read(directory + kDirectoryHeader + static_cast<uint64_t>(middle) * kDirectoryEntry,
                   entry, sizeof(entry)))
      return false;
    uint16_t entryId = base::ReadLe16(entry);
    if (entryId == id) {
      uint32_t offset = base::ReadLe32(entry + 4) & 0x7FFFFFFFu;
      if (offset > area.size() - kDirectoryHeader) return false;
      *target = offset;
      return true;
    }
    if (entryId > id) {
      high = middle - 1;
    } else {
      low = middle + 1;
    }
  }
  return false;
}

// The first entry of a directory, whatever its kind.
bool FirstEntry(ResourceArea& area, uint32_t directory, uint32_t* target) {
  uint8_t header[kDirectoryHeader + kDirectoryEntry];
  if (!area.Read(directory, header, sizeof(header))) return false;
  if (base::ReadLe16(header + 12) + base::ReadLe16(header + 14) == 0) return false;
  uint32_t offset = base::ReadLe32(header + kDirectoryHeader + 4) & 0x7FFFFFFFu;
  if (offset > area.size() - kDirectoryHeader) return false;
  *target = offset;
  return true;
}

bool FindLanguage(ResourceArea& area, uint32_t directory, const LanguagePreference& languages,
                  uint32_t* target) {
  const uint16_t userPrimary = languages.user & 0x3FF;
  const uint16_t systemPrimary = languages.system & 0x3FF;
  const uint16_t wanted[] = {
      0x0000,                                         // neutral
      languages.thread,                               // the thread's
      languages.user,                                 // the user's
      userPrimary,                                    // its primary language, neutral sublanguage
      static_cast<uint16_t>(userPrimary | 0x0400),    // and default sublanguage
      languages.system,                               // the system's
      systemPrimary,                                  // its primary language, neutral sublanguage
      static_cast<uint16_t>(systemPrimary | 0x0400),  // and default sublanguage
      0x0409,                                         // English (US)
  };
  for (size_t i = 0; i < sizeof(wanted) / sizeof(wanted[0]); ++i) {
    bool seen = false;
    for (size_t k = 0; k < i; ++k) seen |= wanted[k] == wanted[i];
    if (!seen && FindEntryById(area, directory, wanted[i], target)) return true;
    // Another language's version must not stand in for one that could not be read.
    if (area.Unreadable()) return false;
  }
  return FirstEntry(area, directory, target);
}

// What the headers tell of an image: where its resources start, and its section table.
struct ImageHeaders {
  uint32_t resourceRva = 0;
  std::vector<uint8_t> sections;
};

// The DOS, PE and optional headers up to the resource directory's entry (index 2 of the data
// directories), and the section table.
bool ReadHeaders(ByteSource& source, ImageHeaders* out) {
  const uint64_t fileSize = source.Size();
  uint8_t dos[64];
  if (!source.ReadAt(0, dos, sizeof(dos))) return false;
  if (dos[0] != 'M' || dos[1] != 'Z') return false;
  const uint64_t nt = base::ReadLe32(dos + 0x3C);
  uint8_t signature[4];
  if (!source.ReadAt(nt, signature, sizeof(signature))) return false;
  if (std::memcmp(signature, "PE\0\0", 4) != 0) return false;
  uint8_t fileHeader[20];
  if (!source.ReadAt(nt + 4, fileHeader, sizeof(fileHeader))) return false;
  const uint32_t sectionCount = base::ReadLe16(fileHeader + 2);
  const uint32_t optionalSize = base::ReadLe16(fileHeader + 16);

  uint8_t optional[136];
  uint8_t magic[2];
  if (!source.ReadAt(nt + 24, magic, sizeof(magic))) return false;
  size_t countAt = 0;
  size_t directoryAt = 0;
  switch (base::ReadLe16(magic)) {
    case 0x10B:  // PE32
      countAt = 92;
      directoryAt = 96 + 2 * 8;
      break;
    case 0x20B:  // PE32+
      countAt = 108;
      directoryAt = 112 + 2 * 8;
      break;
    default: return false;
  }
  if (!source.ReadAt(nt + 24, optional, directoryAt + 8)) return false;
  if (base::ReadLe32(optional + countAt) <= 2) return false;          // no resource directory entry
  if (base::ReadLe32(optional + directoryAt + 4) == 0) return false;  // no resources
  out->resourceRva = base::ReadLe32(optional + directoryAt);

  const uint64_t tableAt = nt + 24 + optionalSize;
  const uint64_t tableSize = static_cast<uint64_t>(sectionCount) * kSectionHeader;
  if (sectionCount == 0 || tableAt > fileSize || tableSize > fileSize - tableAt) return false;
  out->sections.resize(tableSize);  // at most 65535 * 40 bytes, and within the file
  return source.ReadAt(tableAt, out->sections.data(), out->sections.size());
}

// Where the resource directory's root lies in the file, how many of its bytes the file holds, and
// how far its section reaches in memory; false when the system would not read that section.
struct ResourcePlace {
  uint64_t root = 0;
  uint64_t rawAvailable = 0;
  uint64_t size = 0;
};

bool PlaceResources(const ImageHeaders& headers, uint64_t fileSize, ResourcePlace* out) {
  const long index = FindSection(headers.sections, headers.resourceRva);
  if (index < 0) return false;
  const Section home = SectionAt(headers.sections, static_cast<size_t>(index));
  if (!SystemReadsSection(home, fileSize)) return false;
  const uint64_t sectionSize = std::max(home.rawSize, home.virtualSize);
  const uint64_t rootInSection = headers.resourceRva - home.virtualAddress;  // < rawSize
  // Raw data cut off by the end of the file reads as zeros, as in the mapping.
  out->root = static_cast<uint64_t>(home.rawPointer) + rootInSection;
  const uint64_t rawEnd =
      std::min<uint64_t>(static_cast<uint64_t>(home.rawPointer) + home.rawSize, fileSize);
  out->rawAvailable = rawEnd > out->root ? rawEnd - out->root : 0;
  out->size = sectionSize - rootInSection;
  return true;
}

// The version resource's data entry, down the type, name and language levels: the data's address
// in memory and its size.
bool FindDataEntry(ResourceArea& area, const LanguagePreference& languages, uint32_t* rva,
                   uint32_t* size) {
  if (area.size() < kDirectoryHeader) return false;
  uint32_t types = 0;
  uint32_t names = 0;
  uint32_t dataEntry = 0;
  if (!FindEntryById(area, 0, kRtVersion, &types)) return false;
  if (!FindEntryById(area, types, kVsVersionInfo, &names)) return false;
  if (!FindLanguage(area, names, languages, &dataEntry)) return false;
  uint8_t data[kDataEntry];
  if (!area.Read(dataEntry, data, sizeof(data))) return false;
  *rva = base::ReadLe32(data);
  *size = base::ReadLe32(data + 4);
  return true;
}

// Where the data at |rva|, of |size| bytes, lies in the file; false when the file does not hold
// all of it.
bool PlaceData(const ImageHeaders& headers, uint32_t rva, uint32_t size, uint64_t fileSize,
               VersionResource* out) {
  const long index = FindSection(headers.sections, rva);
  if (index < 0) return false;
  const Section holder = SectionAt(headers.sections, static_cast<size_t>(index));
  const uint64_t offset = static_cast<uint64_t>(rva) - holder.virtualAddress + holder.rawPointer;
  // All that the resource declares, not only the part that is read: the system's library copies
  // the whole size, wherever the file ends.
  if (offset > fileSize || size > fileSize - offset) return false;
  out->offset = offset;
  out->length = std::min(size, kMaxVersionData);
  return true;
}

}  // namespace

bool FindVersionResource(ByteSource& source, const LanguagePreference& languages,
                         VersionResource* out) {
  const uint64_t fileSize = source.Size();
  ImageHeaders headers;
  ResourcePlace place;
  if (!ReadHeaders(source, &headers) || !PlaceResources(headers, fileSize, &place)) return false;
  ResourceArea area(source, place.root, place.rawAvailable, place.size);
  uint32_t rva = 0;
  uint32_t size = 0;
  return FindDataEntry(area, languages, &rva, &size) &&
         PlaceData(headers, rva, size, fileSize, out);
}

}  // namespace pe
