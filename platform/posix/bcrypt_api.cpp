// CNG SHA-256 on OpenSSL's libcrypto.
//
// An algorithm handle is a small heap object. A hash lives, as with CNG, in
// the memory the caller passes to BCryptCreateHash: an object holding the
// libcrypto digest context is placed there (aligned within it), and the hash
// handle points at it. The caller keeps that memory unmoved until
// BCryptDestroyHash, which frees the context and marks the memory dead. With
// a null hash object of length 0 the stand-in keeps the object on the heap
// itself, as newer CNG versions do.
//
// Hashing goes through EVP with SHA-256, so libcrypto picks the fastest
// implementation the processor offers (SHA extensions, AVX2, ...). The
// algorithm is fetched from libcrypto's providers once per process: starting
// a digest from EVP_sha256() would look it up anew for every hash, which
// costs a copy of many small files more than hashing them.
#include "platform/win32.h"
#include "platform/posix/posix_internal.h"
#if QUILLMERE_FAULT_SEAM
#include "platform/testing/fault_injection.h"
#endif

#include <openssl/evp.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BBu);
constexpr ULONG kDigestLength = 32;

// Marks that tell live stand-in objects from anything else a handle may point at.
constexpr uint32_t kProviderMagic = 0x51414C47;  // "QALG"
constexpr uint32_t kHashMagic = 0x51485348;      // "QHSH"

struct Provider {
  uint32_t magic = kProviderMagic;
};

struct HashObject {
  uint32_t magic = kHashMagic;
  bool finished = false;
  bool ownsStorage = false;  // allocated here because the caller gave no memory
  EVP_MD_CTX* context = nullptr;
};

// What a caller must reserve: the object plus room to align it anywhere.
constexpr ULONG kObjectLength = sizeof(HashObject) + alignof(HashObject) - 1;
static_assert(kObjectLength <= 256, "a 256-byte hash object must always be enough");

#if QUILLMERE_FAULT_SEAM
// The hashing half of the test seam (fault_injection.h).
std::atomic<bool> failOpenProvider{false};
std::atomic<bool> failCreateHash{false};
std::atomic<bool> zeroObjectLength{false};
std::atomic<int> openProviders{0};
std::atomic<int> openHashes{0};
#else
// Without the seam nothing fails on purpose and nothing is counted: the
// checks below are constants the compiler drops.
constexpr bool failOpenProvider = false;
constexpr bool failCreateHash = false;
constexpr bool zeroObjectLength = false;
constexpr posix_standin::NoCount openProviders;
constexpr posix_standin::NoCount openHashes;
#endif

Provider* AsProvider(BCRYPT_HANDLE handle) {
  auto* provider = static_cast<Provider*>(handle);
  return provider && provider->magic == kProviderMagic ? provider : nullptr;
}

HashObject* AsHash(BCRYPT_HANDLE handle) {
  auto* hash = static_cast<HashObject*>(handle);
  return hash && hash->magic == kHashMagic ? hash : nullptr;
}

bool SameText(LPCWSTR a, LPCWSTR b) {
  if (!a || !b) return false;
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// Writes a ULONG property the way CNG does: the size always, the value when
// the buffer holds it.
NTSTATUS PutUlong(ULONG value, PUCHAR output, ULONG outputLength, ULONG* resultLength) {
  if (!resultLength) return STATUS_INVALID_PARAMETER;
  *resultLength = sizeof(ULONG);
  if (!output) return STATUS_SUCCESS;
  if (outputLength < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(output, &value, sizeof value);
  return STATUS_SUCCESS;
}

// The aligned place for a hash object inside the caller's memory, or null.
void* PlaceInCallerMemory(PUCHAR memory, ULONG length) {
  void* where = memory;
  size_t space = length;
  return std::align(alignof(HashObject), sizeof(HashObject), where, space);
}

// The fetched SHA-256, or EVP_sha256() where it cannot be fetched. It is
// kept for the life of the process (libcrypto may already be cleaned up
// when static objects are destroyed).
const EVP_MD* Sha256Digest() {
  static const EVP_MD* const digest = [] {
    const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return fetched != nullptr ? fetched : EVP_sha256();
  }();
  return digest;
}

}  // namespace

NTSTATUS BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                                     LPCWSTR implementation, ULONG flags) {
  if (!algorithm || !algorithmId || flags != 0) return STATUS_INVALID_PARAMETER;
  *algorithm = nullptr;
  if (failOpenProvider) return STATUS_UNSUCCESSFUL;
  if (!SameText(algorithmId, BCRYPT_SHA256_ALGORITHM) || implementation != nullptr) {
    return STATUS_NOT_FOUND;
  }
  *algorithm = new (std::nothrow) Provider;
  if (!*algorithm) return static_cast<NTSTATUS>(0xC0000017u);  // STATUS_NO_MEMORY
  ++openProviders;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG /*flags*/) {
  Provider* provider = AsProvider(algorithm);
  if (!provider) return STATUS_INVALID_HANDLE;
  provider->magic = 0;
  delete provider;
  --openProviders;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                           ULONG outputLength, ULONG* resultLength, ULONG /*flags*/) {
  if (!AsProvider(object) && !AsHash(object)) return STATUS_INVALID_HANDLE;
  if (SameText(property, BCRYPT_OBJECT_LENGTH)) {
    ULONG length = zeroObjectLength ? 0 : kObjectLength;
    return PutUlong(length, output, outputLength, resultLength);
  }
  if (SameText(property, BCRYPT_HASH_LENGTH)) {
    return PutUlong(kDigestLength, output, outputLength, resultLength);
  }
  return kStatusNotSupported;
}

NTSTATUS BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                          PUCHAR hashObject, ULONG hashObjectLength, PUCHAR secret,
                          ULONG secretLength, ULONG flags) {
  if (!hash) return STATUS_INVALID_PARAMETER;
  *hash = nullptr;
  if (!AsProvider(algorithm)) return STATUS_INVALID_HANDLE;
  // Keyed hashing and reusable hashes are not offered by this stand-in.
  if (secret || secretLength || flags) return STATUS_INVALID_PARAMETER;
  if (failCreateHash) return STATUS_UNSUCCESSFUL;

  bool ownStorage = hashObject == nullptr && hashObjectLength == 0;
  void* where = ownStorage ? ::operator new(sizeof(HashObject), std::nothrow)
                           : PlaceInCallerMemory(hashObject, hashObjectLength);
  if (!where) return ownStorage ? STATUS_UNSUCCESSFUL : STATUS_BUFFER_TOO_SMALL;

  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (!context || EVP_DigestInit_ex(context, Sha256Digest(), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    if (ownStorage) ::operator delete(where);
    return STATUS_UNSUCCESSFUL;
  }
  auto* object = new (where) HashObject;
  object->ownsStorage = ownStorage;
  object->context = context;
  *hash = object;
  ++openHashes;
  return STATUS_SUCCESS;
}

NTSTATUS BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputLength,
                        ULONG /*flags*/) {
  HashObject* object = AsHash(hash);
  if (!object || object->finished) return STATUS_INVALID_HANDLE;
  if (!input && inputLength) return STATUS_INVALID_PARAMETER;
  if (inputLength == 0) return STATUS_SUCCESS;
  return EVP_DigestUpdate(object->context, input, inputLength) == 1 ? STATUS_SUCCESS
                                                                    : STATUS_UNSUCCESSFUL;
}

NTSTATUS BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputLength,
                          ULONG /*flags*/) {
  HashObject* object = AsHash(hash);
  if (!object || object->finished) return STATUS_INVALID_HANDLE;
  if (!output || outputLength != kDigestLength) return STATUS_INVALID_PARAMETER;
  object->finished = true;
  unsigned int written = 0;
  return EVP_DigestFinal_ex(object->context, output, &written) == 1 ? STATUS_SUCCESS
                                                                     : STATUS_UNSUCCESSFUL;
}

NTSTATUS BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
  HashObject* object = AsHash(hash);
  if (!object) return STATUS_INVALID_HANDLE;
  EVP_MD_CTX_free(object->context);
  bool ownStorage = object->ownsStorage;
  object->~HashObject();
  // Clear the raw memory so a stale handle into it is no longer taken for a
  // live hash (done after the object's end, where the store cannot be dropped).
  void* storage = object;
  std::memset(storage, 0, sizeof(HashObject));
  if (ownStorage) ::operator delete(storage);
  --openHashes;
  return STATUS_SUCCESS;
}

#if QUILLMERE_FAULT_SEAM
namespace fault_injection {

void FailOpenProvider(bool fail) { failOpenProvider = fail; }
void FailCreateHash(bool fail) { failCreateHash = fail; }
void ReportZeroObjectLength(bool zero) { zeroObjectLength = zero; }
int OpenProviders() { return openProviders; }
int OpenHashes() { return openHashes; }

void ResetHashFaults() {
  failOpenProvider = false;
  failCreateHash = false;
  zeroObjectLength = false;
}

}  // namespace fault_injection
#endif
