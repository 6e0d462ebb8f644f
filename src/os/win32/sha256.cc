// The SHA-256 on Windows: the system's BCrypt, loaded from System32 when a digest is wanted, so
// that no library of it is bound before the program's first line.
#include "os/sha256.h"

#include <windows.h>

#include <cstring>

#include "os/win32/system_library.h"

namespace platform {
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

// The algorithm handle that a hash of |bcrypt| was made with, kept beside the functions.
struct Provider {
  const Bcrypt* bcrypt;
  void* algorithm;
};

}  // namespace

Sha256::Sha256(bool wanted) : wanted_(wanted) {
  const Bcrypt* bcrypt = wanted ? LoadBcrypt() : nullptr;
  void* algorithm = nullptr;
  if (bcrypt == nullptr || bcrypt->openAlgorithm(&algorithm, L"SHA256", nullptr, 0) != 0) return;
  Provider* provider = new Provider{bcrypt, algorithm};
  provider_ = provider;
  ok_ = bcrypt->createHash(algorithm, &hash_, nullptr, 0, nullptr, 0, 0) == 0;
}

Sha256::~Sha256() {
  const Provider* provider = static_cast<const Provider*>(provider_);
  if (provider == nullptr) return;
  if (hash_) provider->bcrypt->destroyHash(hash_);
  provider->bcrypt->closeAlgorithm(provider->algorithm, 0);
  delete provider;
}

bool Sha256::Add(const void* data, size_t size) {
  const Provider* provider = static_cast<const Provider*>(provider_);
  ok_ = ok_ && provider->bcrypt->hashData(hash_, static_cast<const unsigned char*>(data),
                                          static_cast<ULONG>(size), 0) == 0;
  return ok_ || !wanted_;
}

bool Sha256::Matches(const uint8_t* expected) {
  const Provider* provider = static_cast<const Provider*>(provider_);
  unsigned char digest[32];
  return ok_ && provider->bcrypt->finishHash(hash_, digest, sizeof(digest), 0) == 0 &&
         std::memcmp(digest, expected, sizeof(digest)) == 0;
}

}  // namespace platform
