#include "engine/sha256_hasher.h"

#include "platform/win32.h"

#include <stdexcept>
#include <vector>

namespace quillmere {

// The CNG objects behind one hasher. hashObject is the memory CNG keeps the
// running hash in: it must stay allocated and unmoved until hash is destroyed.
struct Sha256State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  std::vector<uint8_t> hashObject;
};

namespace {

constexpr ULONG kFallbackObjectLength = 256;
constexpr ULONG kDigestLength = 32;

// The NT_SUCCESS test: negative statuses are failures (not every header set
// defines the macro).
bool Succeeded(NTSTATUS status) { return status >= 0; }

// The provider's hash-object size; its status is not needed, since a value
// left at 0 falls back to a size that serves every provider.
ULONG HashObjectLength(BCRYPT_ALG_HANDLE algorithm) {
  ULONG length = 0;
  ULONG written = 0;
  BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&length),
                    sizeof length, &written, 0);
  return length == 0 ? kFallbackObjectLength : length;
}

// Opens the provider and creates the hash in state. On a throw nothing stays
// open: the provider is closed here before the exception leaves.
void SetUp(Sha256State& state) {
  if (!Succeeded(BCryptOpenAlgorithmProvider(&state.algorithm, BCRYPT_SHA256_ALGORITHM,
                                              nullptr, 0))) {
    state.algorithm = nullptr;
    throw std::runtime_error("BCryptOpenAlgorithmProvider that bai");
  }
  try {
    state.hashObject.assign(HashObjectLength(state.algorithm), 0);
  } catch (...) {
    BCryptCloseAlgorithmProvider(state.algorithm, 0);
    state.algorithm = nullptr;
    throw;
  }
  NTSTATUS status = BCryptCreateHash(state.algorithm, &state.hash, state.hashObject.data(),
                                     static_cast<ULONG>(state.hashObject.size()), nullptr, 0, 0);
  if (!Succeeded(status)) {
    BCryptCloseAlgorithmProvider(state.algorithm, 0);
    state.algorithm = nullptr;
    state.hash = nullptr;
    throw std::runtime_error("BCryptCreateHash that bai");
  }
}

}  // namespace

Sha256Hasher::Sha256Hasher() {
  // Until set-up succeeds the state is held without the releasing deleter:
  // SetUp has closed what it opened, so only the memory is left to free.
  auto building = std::make_unique<Sha256State>();
  SetUp(*building);
  state.reset(building.release());
}

Sha256Hasher::~Sha256Hasher() = default;

// The hash is destroyed before the provider is closed and before the memory
// it lives in is released.
void Sha256Hasher::StateDeleter::operator()(Sha256State* s) const {
  if (s->hash) BCryptDestroyHash(s->hash);
  if (s->algorithm) BCryptCloseAlgorithmProvider(s->algorithm, 0);
  std::vector<uint8_t>().swap(s->hashObject);
  delete s;
}

void Sha256Hasher::Update(const uint8_t* data, uint32_t size) {
  // CNG takes a non-const pointer but only reads the data.
  BCryptHashData(state->hash, const_cast<PUCHAR>(data), size, 0);
}

std::string Sha256Hasher::FinishHex() {
  // Zero-filled, so a failed finish gives a fixed text rather than stack bytes.
  uint8_t digest[kDigestLength] = {};
  BCryptFinishHash(state->hash, digest, kDigestLength, 0);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * kDigestLength);
  for (uint8_t byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 0x0F]);
  }
  return hex;
}

}  // namespace quillmere
