// Product-family detection: which edition is installed, and what the launcher takes from it.
#include "app/product_family.h"

#include <clocale>
#include <cstdio>

#include "app/orvapatch_app.h"
#include "base/ascii.h"
#include "os/format.h"
#include "os/locale.h"
#include "os/registry.h"

namespace {

struct Edition {
  const char* softName;     // "Soft name", compared ignoring ASCII case
  const char* familyRoot;   // below HKEY_CURRENT_USER
  const char* settingsKey;  // format of the settings key, given the LCID
  const char* appName;
};

const Edition kEditions[] = {
    {"ORVANE II", "Software\\ORVANE", "ORVANE-%X", "ORVANE"},
    {"ORVANE XP", "Software\\ORVANE XP", "ORVANE-%X", "Orvane XP"},
    {"KELMARIS XP", "Software\\KELMARIS XP", "ORVANE-%X", "Kelmaris XP"},
    {"BELNOR 2000", "Software\\Belnor", "BELNOR-%X", "BELNOR 2000"},
    {"MORVIK 2000", "Software\\ZERLIN", "ZERLIN-%X", "ZERLIN"},
};
const int kEditionCount = sizeof kEditions / sizeof kEditions[0];
const int kDefaultEdition = 1;

const char kVendorKey[] = "Software\\ORVANE S.A.";
const char kSoftName[] = "Soft name";
const char kThreadLocal[] = "ThreadLocal";
const char kFamilyRootClass[] = "String";
// Legacy, kept as is: the buffer earlier releases read both values into; a longer value is
// unreadable, and the edition falls back to its default.
const uint32_t kValueBufferSize = 50;

const Edition& EditionOf(int code) {
  return kEditions[code >= 0 && code < kEditionCount ? code : 0];
}

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The C conversion "%x", done here so that every C runtime reads the same: leading white space,
// an optional sign and "0x", then hexadecimal digits up to the first other character; no digit
// reads as 0. False when the value does not fit 32 bits (undefined for the C conversion).
bool ParseHex(const std::string& text, uint32_t* value) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i + 2 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      base::HexDigitValue(text[i + 2]) >= 0) {
    i += 2;
  }
  uint64_t magnitude = 0;
  for (; i < n && base::HexDigitValue(text[i]) >= 0; ++i) {
    magnitude = magnitude * 16 + static_cast<uint64_t>(base::HexDigitValue(text[i]));
    if (magnitude > 0xFFFFFFFFu) return false;
  }
  // As the C conversion does, a sign negates modulo 2^32.
  uint32_t result = static_cast<uint32_t>(magnitude);
  *value = negative ? 0u - result : result;
  return true;
}

}  // namespace

int GetProductEdition() {
  os::RegKey key;
  if (key.Open(os::Hive::kCurrentUser, kVendorKey, os::kKeyRead) != os::kErrorSuccess &&
      key.Open(os::Hive::kLocalMachine, kVendorKey, os::kKeyRead) != os::kErrorSuccess) {
    return kDefaultEdition;
  }
  // Only the hive whose key opened is read: a user key without the value keeps the default.
  std::string softName;
  bool read = key.ReadTextValue(kSoftName, kValueBufferSize, &softName) == os::kErrorSuccess;
  key.Close();
  if (!read) return kDefaultEdition;
  for (int code = 0; code < kEditionCount; ++code) {
    if (base::EqualsIgnoreAsciiCase(softName, kEditions[code].softName)) return code;
  }
  return kDefaultEdition;
}

uint32_t GetProductLcid() {
  const Edition& edition = EditionOf(GetProductEdition());
  os::RegKey root;
  // Creating the family root is part of the lookup: it exists, empty, after the first run.
  (void)root.Create(os::Hive::kCurrentUser, edition.familyRoot, kFamilyRootClass,
                    os::kKeyAllAccess);
  std::string text;
  bool read = root.ReadTextValue(kThreadLocal, kValueBufferSize, &text) == os::kErrorSuccess;
  root.Close();
  uint32_t lcid = 0;
  if (!read || !ParseHex(text, &lcid) || lcid == 0) return os::ThreadLocale();
  return lcid;
}

void InitProductFamily(COrvaPatchApp& app) {
  app.m_strAppName.clear();
  const Edition& edition = EditionOf(GetProductEdition());
  std::string settingsKey = os::Format(edition.settingsKey, GetProductLcid());
  app.m_strAppName = edition.appName;
  app.m_strSettingsKey = settingsKey;
  app.SetRegistryKey(settingsKey.c_str());
  std::setlocale(LC_ALL, "");
}

int JoinPath(const char* name, std::string& directory) {
  const char* rest = name ? name : "";
  if (directory.empty()) {
    directory = rest;
    return 1;
  }
  if (*rest == '\0') return 1;
  if (*rest == '/' || *rest == '\\') ++rest;
  char last = directory.back();
  if (last != '/' && last != '\\') directory += '\\';
  directory += rest;
  return 1;
}
