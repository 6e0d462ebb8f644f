// The POSIX registry's contents: REGEDIT4 text (cp1252 bytes) read into an ordered tree of keys
// and values and written back, and the key and value operations on that tree. No file access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace machine {

// The value types that a REGEDIT4 text writes in forms of their own ("text", dword:, hex:); any
// other type is written hex(N): with its number, the registry's own.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

struct RegValueEntry {
  std::string name;   // empty: the key's default value ("@")
  uint32_t type = 0;  // the registry's number of the value's type
  std::string data;   // the value's bytes, exactly
};

struct RegKeyEntry {
  std::string path;  // full name, hive first, as created ("HKEY_CURRENT_USER\\Software\\X")
  std::vector<RegValueEntry> values;
};

// The keys in file order. A key also exists when only keys below it are listed, and the hive
// roots with HKEY_CURRENT_USER\Software, HKEY_LOCAL_MACHINE\SOFTWARE and the system account's
// HKEY_USERS\S-1-5-18\Software always exist. Other users' hives (HKEY_USERS\<SID>) exist when
// listed: as on Windows, while their user is logged on.
struct RegDocument {
  std::vector<RegKeyEntry> keys;
};

// Parses REGEDIT4 text (CR LF or LF line ends, hex lists continued with '\'). An empty text is an
// empty registry. Fails on anything it cannot represent; |out| is untouched then.
bool ParseRegedit4(const std::string& text, RegDocument* out);

// REGEDIT4 text with CR LF line ends that parses back to the same document.
std::string SerializeRegedit4(const RegDocument& document);

// Whether |text| holds a CR or an LF: a name given with one could not be stored as it is.
bool HasLineBreak(const std::string& text);

// Resolves |base| (a full key name, or empty) followed by |subKey| (relative, '\'-separated) to
// the full name of an existing key, spelled as stored. False when the key does not exist.
bool FindKey(const RegDocument& document, const std::string& base, const std::string& subKey,
             std::string* canonical);

// Like FindKey, creating the key when it is missing: the levels that exist keep their stored
// spelling, the new ones take the spelling given. False for a name that cannot be a key (outside
// the three hives, or with a line break).
bool CreateKey(RegDocument* document, const std::string& base, const std::string& subKey,
               std::string* canonical, bool* created);

// The value |name| of the existing key |canonical|, or null.
const RegValueEntry* FindValue(const RegDocument& document, const std::string& canonical,
                               const std::string& name);

// Sets a value of the existing key |canonical|; an existing value keeps its place and its name.
void SetValue(RegDocument* document, const std::string& canonical, const std::string& name,
              uint32_t type, const std::string& data);

// Removes a value; false when there is none of that name.
bool DeleteValue(RegDocument* document, const std::string& canonical, const std::string& name);

}  // namespace machine
