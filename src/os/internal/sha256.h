// The SHA-256 of a program's bytes, through the system's own provider, loaded only when wanted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

// The SHA-256 of the bytes given to Add. Unless |wanted|, it hashes nothing and loads nothing:
// a launcher that checks no installer does not pay for the provider at each start.
class Sha256 {
 public:
  explicit Sha256(bool wanted);
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False when the bytes could not be hashed and a digest is wanted.
  bool Add(const void* data, size_t size);
  // True when the digest of the bytes added is the 32 bytes at |expected|.
  bool Matches(const uint8_t* expected);

 private:
  const void* provider_ = nullptr;  // the provider's functions
  void* algorithm_ = nullptr;       // Windows: the algorithm the digest is made with
  void* hash_ = nullptr;            // the digest being made
  const bool wanted_;
  bool ok_ = false;
};

}  // namespace os
