// The SHA-256 on Windows: the system's BCrypt, loaded from System32 when a digest is wanted, so
// that no library of it is bound before the program's first line.
#include "os/internal/sha256.h"

#include <windows.h>

#include <cstring>

#include "os/win32/system_library.h"

namespace os {
namespace {

typedef LONG(WINAPI* OpenAlgorithmFn)(void**, const wchar_t*, const wchar_t*, ULONG);
typedef LONG(WINAPI* CreateHashFn)(void*, void**, unsigned char*, ULONG, unsigned char*, ULONG,
                                   ULONG);
typedef LONG(WINAPI* HashDataFn)(void*, const unsigned char*, ULONG, ULONG);
typedef LONG(WINAPI* FinishHashFn)(void*, unsigned char*, ULONG, ULONG);
typedef LONG(WINAPI* DestroyFn)(void*);
typedef LONG(WINAPI* CloseAlgorithmFn)(void*, ULONG);

// The functions of bcrypt.dll that a digest needs, and its SHA-256 algorithm.
struct Bcrypt {
  OpenAlgorithmFn openAlgorithm;
  CreateHashFn createHash;
  HashDataFn hashData;
  FinishHashFn finishHash;
  DestroyFn destroyHash;
  CloseAlgorithmFn closeAlgorithm;
};

template <typename Fn>
Fn Function(const char* name) {
  return reinterpret_cast<Fn>(win32::SystemFunction("bcrypt.dll", name));
}

// The library's functions, loaded once; nullptr when it cannot be had.
const Bcrypt* LoadBcrypt() {
  static const Bcrypt bcrypt = {
      Function<OpenAlgorithmFn>("BCryptOpenAlgorithmProvider"),
      Function<CreateHashFn>("BCryptCreateHash"),
      Function<HashDataFn>("BCryptHashData"),
      Function<FinishHashFn>("BCryptFinishHash"),
      Function<DestroyFn>("BCryptDestroyHash"),
      Function<CloseAlgorithmFn>("BCryptCloseAlgorithmProvider"),
  };
  const bool whole = bcrypt.openAlgorithm && bcrypt.createHash && bcrypt.hashData &&
                     bcrypt.finishHash && bcrypt.destroyHash && bcrypt.closeAlgorithm;
  return whole ? &bcrypt : nullptr;
}

const Bcrypt* Functions(const void* provider) { return static_cast<const Bcrypt*>(provider); }

}  // namespace

Sha256::Sha256(bool wanted) : wanted_(wanted) {
  const Bcrypt* bcrypt = wanted ? LoadBcrypt() : nullptr;
  if (bcrypt == nullptr || bcrypt->openAlgorithm(&algorithm_, L"SHA256", nullptr, 0) != 0) return;
  provider_ = bcrypt;
  ok_ = bcrypt->createHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) == 0;
}

Sha256::~Sha256() {
  if (provider_ == nullptr) return;
  if (hash_) Functions(provider_)->destroyHash(hash_);
  Functions(provider_)->closeAlgorithm(algorithm_, 0);
}

bool Sha256::Add(const void* data, size_t size) {
  ok_ = ok_ && Functions(provider_)->hashData(hash_, static_cast<const unsigned char*>(data),
                                              static_cast<ULONG>(size), 0) == 0;
  return ok_ || !wanted_;
}

bool Sha256::Matches(const uint8_t* expected) {
  unsigned char digest[32];
  return ok_ && Functions(provider_)->finishHash(hash_, digest, sizeof(digest), 0) == 0 &&
         std::memcmp(digest, expected, sizeof(digest)) == 0;
}

}  // namespace os
