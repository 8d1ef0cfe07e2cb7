// SHA-256 digests of the hasher against known values, and its set-up failures.
#include "engine/sha256_hasher.h"
#include "platform/win32.h"
#if QUILLMERE_POSIX_STANDIN
#include "platform/testing/fault_injection.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using quillmere::Sha256Hasher;

const char kEmptyDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const char kAbcDigest[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
// Digest of Pattern() below, computed with sha256sum when the test was written.
const char kPatternDigest[] = "4f003a6ed2cc4eb0428872b342ca496b8ab738fc9e7059d51df89f00659671c7";

std::vector<uint8_t> Pattern() {
  std::vector<uint8_t> bytes(3 * 1024 * 1024);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 7) ^ (i >> 11));
  return bytes;
}

std::string DigestOf(const std::string& text) {
  Sha256Hasher hasher;
  hasher.Update(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  return hasher.FinishHex();
}

TEST(Sha256Hasher, KnownShortMessages) {
  Sha256Hasher nothingFed;
  EXPECT_EQ(nothingFed.FinishHex(), kEmptyDigest);
  EXPECT_EQ(DigestOf(""), kEmptyDigest);
  EXPECT_EQ(DigestOf("abc"), kAbcDigest);
}

TEST(Sha256Hasher, DigestIsSixtyFourLowercaseHexCharacters) {
  const std::string hex = DigestOf("Quillmere");
  ASSERT_EQ(hex.size(), 64u);
  EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
}

TEST(Sha256Hasher, PatternWholeOrInUnevenPiecesGivesSameDigest) {
  const std::vector<uint8_t> data = Pattern();
  Sha256Hasher whole;
  whole.Update(data.data(), static_cast<uint32_t>(data.size()));
  EXPECT_EQ(whole.FinishHex(), kPatternDigest);

  Sha256Hasher pieces;
  const size_t sizes[] = {0, 1, 63, 64, 65, 0, 4096, 100003, 0, 1 << 20};
  size_t offset = 0;
  for (size_t i = 0; offset < data.size(); ++i) {
    size_t size = std::min(sizes[i % (sizeof sizes / sizeof sizes[0])], data.size() - offset);
    pieces.Update(data.data() + offset, static_cast<uint32_t>(size));
    offset += size;
  }
  pieces.Update(data.data() + offset, 0);
  EXPECT_EQ(pieces.FinishHex(), kPatternDigest);
}

TEST(Sha256Hasher, HashersAreIndependent) {
  Sha256Hasher first;
  Sha256Hasher second;
  const uint8_t abc[] = {'a', 'b', 'c'};
  first.Update(abc, 3);
  EXPECT_EQ(second.FinishHex(), kEmptyDigest);
  EXPECT_EQ(first.FinishHex(), kAbcDigest);
}

#if QUILLMERE_POSIX_STANDIN

class Sha256HasherFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    fault_injection::ResetHashFaults();
    providers = fault_injection::OpenProviders();
    hashes = fault_injection::OpenHashes();
  }
  void TearDown() override { fault_injection::ResetHashFaults(); }

  void ExpectNothingLeftOpen() {
    EXPECT_EQ(fault_injection::OpenProviders(), providers);
    EXPECT_EQ(fault_injection::OpenHashes(), hashes);
  }

  static std::string ConstructionError() {
    try {
      Sha256Hasher hasher;
    } catch (const std::runtime_error& error) {
      return error.what();
    }
    return "(no exception)";
  }

  int providers = 0;
  int hashes = 0;
};

TEST_F(Sha256HasherFaults, DestroyedHasherReleasesProviderAndHash) {
  {
    Sha256Hasher hasher;
    EXPECT_EQ(fault_injection::OpenProviders(), providers + 1);
    EXPECT_EQ(fault_injection::OpenHashes(), hashes + 1);
  }
  { Sha256Hasher finished; finished.FinishHex(); }
  ExpectNothingLeftOpen();
}

TEST_F(Sha256HasherFaults, ProviderFailureThrowsAndLeavesNothingOpen) {
  fault_injection::FailOpenProvider(true);
  EXPECT_EQ(ConstructionError(), "BCryptOpenAlgorithmProvider that bai");
  ExpectNothingLeftOpen();
}

TEST_F(Sha256HasherFaults, HashCreationFailureClosesProviderAndThrows) {
  fault_injection::FailCreateHash(true);
  EXPECT_EQ(ConstructionError(), "BCryptCreateHash that bai");
  ExpectNothingLeftOpen();
}

TEST_F(Sha256HasherFaults, ZeroObjectLengthStillHashes) {
  fault_injection::ReportZeroObjectLength(true);
  EXPECT_EQ(DigestOf("abc"), kAbcDigest);
  ExpectNothingLeftOpen();
}

// The hasher falls back to 256 bytes of hash object, so the stand-in must
// never ask for more, and must refuse memory that is too small.
TEST_F(Sha256HasherFaults, StandInObjectLengthFitsTheFallback) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  ASSERT_EQ(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
            STATUS_SUCCESS);
  ULONG length = 0, digest = 0, written = 0;
  BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&length),
                    sizeof length, &written, 0);
  BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digest),
                    sizeof digest, &written, 0);
  EXPECT_GT(length, 0u);
  EXPECT_LE(length, 256u);
  EXPECT_EQ(digest, 32u);

  std::vector<uint8_t> tooSmall(4);
  BCRYPT_HASH_HANDLE hash = nullptr;
  EXPECT_EQ(BCryptCreateHash(algorithm, &hash, tooSmall.data(), 4, nullptr, 0, 0),
            STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(hash, nullptr);
  BCRYPT_ALG_HANDLE other = nullptr;
  EXPECT_EQ(BCryptOpenAlgorithmProvider(&other, u"MD5", nullptr, 0), STATUS_NOT_FOUND);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  ExpectNothingLeftOpen();
}

#endif  // QUILLMERE_POSIX_STANDIN

}  // namespace
