// The registry: the Win32 registry calls on HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and the users'
// hives, with typed reads and writes over them. Names and texts are cp1252 bytes; results are Win32
// error codes. Every call is counted by the fault-injection seam; a struck call fails with
// kErrorRegistryIo.
#pragma once

#include <cstdint>
#include <string>

#include "base/scoped_handle.h"

namespace os {

enum class Hive { kCurrentUser, kLocalMachine, kUsers };

// Access masks.
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;

// Value types.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

// Dispositions reported by Create.
constexpr uint32_t kRegCreatedNewKey = 1;
constexpr uint32_t kRegOpenedExistingKey = 2;

// Results.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;
constexpr long kErrorRegistryCorrupt = 1015;
constexpr long kErrorRegistryIo = 1016;
constexpr long kErrorKeyDeleted = 1018;

// How an open key is given back, counted by the fault seam: RegCloseKey on Windows (each
// platform defines PlatformClose).
struct RegKeyPolicy {
  using Handle = intptr_t;  // an HKEY on Windows; nonzero while open on POSIX
  static constexpr Handle kInvalid = 0;
  static bool Close(Handle handle);

 private:
  static bool PlatformClose(Handle handle);
};

// A move-only owner of one open registry key, closed by its destructor. A failed Open or Create
// leaves the object as it was; a successful one closes the key held before.
class RegKey {
 public:
  // Makes HKEY_CURRENT_USER, for every key reached from now on, the hive of the user |sid|
  // (HKEY_USERS\<sid>, there while that user is logged on), so that a run of the system account
  // reads and writes the console user's settings; an empty |sid| gives the run its own hive back.
  // Nothing changes when the hive cannot be opened.
  [[nodiscard]] static long UseUserHive(const std::string& sid);

  // RegOpenKeyExA: opens the existing key |subKey| below a hive or, for tests, below an open key.
  [[nodiscard]] long Open(Hive hive, const char* subKey, uint32_t access);
  [[nodiscard]] long OpenForTesting(const RegKey& parent, const char* subKey, uint32_t access);

  // RegCreateKeyExA, non-volatile, default security: opens |subKey|, creating it and every
  // missing level above it. |keyClass| may be null; |disposition| (optional) receives
  // kRegCreatedNewKey or kRegOpenedExistingKey.
  [[nodiscard]] long Create(Hive hive, const char* subKey, const char* keyClass, uint32_t access,
                            uint32_t* disposition = nullptr);
  [[nodiscard]] long Create(const RegKey& parent, const char* subKey, const char* keyClass,
                            uint32_t access, uint32_t* disposition = nullptr);

  // RegQueryValueExA. A null or empty |name| is the key's default value. With |data| null,
  // |*size| receives the size the data needs. Data larger than |*size| fails with
  // kErrorMoreData, |*size| then holding the size needed. |type| (optional) receives the type.
  [[nodiscard]] long QueryValue(const char* name, void* data, uint32_t* size,
                                uint32_t* type = nullptr);

  // Reads the value |name|, whatever its type, into a zeroed buffer of |capacity| bytes; |*text|
  // receives the buffer up to its first zero, the whole buffer when it holds none. A value that
  // does not fit is unreadable (kErrorMoreData). |*text| is untouched on failure.
  [[nodiscard]] long ReadTextValue(const char* name, uint32_t capacity, std::string* text);

  // RegSetValueExA: |size| bytes of |data| as the value |name| of type |type| (texts count
  // their terminating zero).
  [[nodiscard]] long SetValue(const char* name, uint32_t type, const void* data, uint32_t size);

  // |text| as a REG_SZ, its terminating zero counted.
  [[nodiscard]] long WriteTextValue(const char* name, const std::string& text);

  // |value| as a REG_DWORD: four bytes, least significant first.
  [[nodiscard]] long WriteDword(const char* name, uint32_t value);

  // RegDeleteValueA.
  [[nodiscard]] long DeleteValue(const char* name);

  // RegFlushKey.
  [[nodiscard]] long Flush();

  // Whether only the Administrators group, the system, or the user or default owner of this
  // program's token may change the key: |*trusted| is false when its owner is another account, or
  // its DACL grants another the right to set a value, make a subkey or a link, delete it, or change
  // its access or owner (the rule of os/win32/security.h, that the rooms' folder is held to). On
  // Windows the key must be open with READ_CONTROL (kKeyRead holds it); the POSIX machine root
  // keeps no key security, and every key there is trusted.
  [[nodiscard]] long CheckTrusted(bool* trusted);

  // RegCloseKey; nothing happens when no key is open.
  void Close();

  bool IsOpen() const { return handle_.IsValid(); }

 private:
  // Open and Create in one: counted once, below |parent|, or below |hive| when |parent| is null;
  // |create| also makes the missing levels. The key held before is closed only once the new one
  // is reached.
  long Reach(Hive hive, const RegKey* parent, const char* subKey, uint32_t access, bool create,
             const char* keyClass, uint32_t* disposition);

  // The calls' steps, taken once the call is counted at the fault seam and |parent| or this key
  // is found open; each platform defines them.
  long PlatformReach(Hive hive, const RegKey* parent, const char* subKey, uint32_t access,
                     bool create, const char* keyClass, uint32_t* disposition);
  long PlatformQueryValue(const char* name, void* data, uint32_t* size, uint32_t* type);
  long PlatformSetValue(const char* name, uint32_t type, const void* data, uint32_t size);
  long PlatformDeleteValue(const char* name);
  long PlatformFlush();
  long PlatformCheckTrusted(bool* trusted);
  static long PlatformUseUserHive(const std::string& sid);

  base::ScopedHandle<RegKeyPolicy> handle_;
  std::string path_;  // POSIX: the key's full name, hive first, as stored
};

}  // namespace os
