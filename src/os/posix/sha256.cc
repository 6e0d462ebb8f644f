// The SHA-256 on POSIX: OpenSSL's libcrypto, loaded on first use.
#include "os/internal/sha256.h"

#include <dlfcn.h>
#include <openssl/evp.h>

#include <cstring>

namespace os {
namespace {

// The library's functions that a digest needs.
struct Crypto {
  decltype(&EVP_MD_CTX_new) newContext = nullptr;
  decltype(&EVP_MD_CTX_free) freeContext = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&EVP_DigestInit_ex) init = nullptr;
  decltype(&EVP_DigestUpdate) update = nullptr;
  decltype(&EVP_DigestFinal_ex) finish = nullptr;
};

template <typename Fn>
void Resolve(void* library, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(::dlsym(library, name));
}

// The library's functions, or nullptr when it cannot be had.
const Crypto* LoadCrypto() {
  static const Crypto crypto = [] {
    Crypto loaded;
    if (void* library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL)) {
      Resolve(library, "EVP_MD_CTX_new", &loaded.newContext);
      Resolve(library, "EVP_MD_CTX_free", &loaded.freeContext);
      Resolve(library, "EVP_sha256", &loaded.sha256);
      Resolve(library, "EVP_DigestInit_ex", &loaded.init);
      Resolve(library, "EVP_DigestUpdate", &loaded.update);
      Resolve(library, "EVP_DigestFinal_ex", &loaded.finish);
    }
    return loaded;
  }();
  const bool whole = crypto.newContext && crypto.freeContext && crypto.sha256 && crypto.init &&
                     crypto.update && crypto.finish;
  return whole ? &crypto : nullptr;
}

const Crypto* Functions(const void* provider) { return static_cast<const Crypto*>(provider); }

}  // namespace

Sha256::Sha256(bool wanted) : wanted_(wanted) {
  const Crypto* crypto = wanted ? LoadCrypto() : nullptr;
  provider_ = crypto;
  EVP_MD_CTX* context = crypto ? crypto->newContext() : nullptr;
  hash_ = context;
  ok_ = context && crypto->init(context, crypto->sha256(), nullptr) == 1;
}

Sha256::~Sha256() {
  if (hash_) Functions(provider_)->freeContext(static_cast<EVP_MD_CTX*>(hash_));
}

bool Sha256::Add(const void* data, size_t size) {
  ok_ = ok_ && Functions(provider_)->update(static_cast<EVP_MD_CTX*>(hash_), data, size) == 1;
  return ok_ || !wanted_;
}

bool Sha256::Matches(const uint8_t* expected) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  return ok_ && Functions(provider_)->finish(static_cast<EVP_MD_CTX*>(hash_), digest, &size) == 1 &&
         size == 32 && std::memcmp(digest, expected, size) == 0;
}

}  // namespace os
