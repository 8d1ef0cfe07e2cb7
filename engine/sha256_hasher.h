// SHA-256 over the platform's CNG hashing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quillmere {

struct Sha256State;

// One digest of one byte stream: construct, Update any number of times,
// FinishHex at most once, destroy. Construction throws std::runtime_error
// ("BCryptOpenAlgorithmProvider that bai" or "BCryptCreateHash that bai")
// and then leaves nothing open. Used by one thread at a time.
class Sha256Hasher {
 public:
  Sha256Hasher();
  ~Sha256Hasher();
  Sha256Hasher(const Sha256Hasher&) = delete;
  Sha256Hasher& operator=(const Sha256Hasher&) = delete;

  // Adds size bytes; copies and allocates nothing.
  void Update(const uint8_t* data, uint32_t size);
  // The digest as 64 lowercase hexadecimal characters.
  std::string FinishHex();

 private:
  struct StateDeleter {
    void operator()(Sha256State* state) const;
  };
  std::unique_ptr<Sha256State, StateDeleter> state;
};

}  // namespace quillmere
