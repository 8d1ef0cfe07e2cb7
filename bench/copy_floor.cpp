// copy_floor: the floor of a verified copy, for bench/run.sh. It copies the
// way quillmere_cli must (one file after the other, on one thread, direct
// reads, direct write-through writes, a buffered re-read, SHA-256 of both
// sides) and does nothing else: no locks, no volume lookups, no retries, no
// progress, no pre-sizing. The benchmark judges quillmere_cli by its time
// over this program's.
//
//   copy_floor SRC DST
//
// A folder SRC is copied as a whole tree into DST (made when missing), its
// folders in the walk's order, each before its contents; any other SRC is
// copied to the path DST. Per file: the source is opened with O_DIRECT and
// read whole in blocks of 4, 8 or 16 MiB by its size, asking no further than
// the rest of the file rounded up to 4096 bytes, and hashed; the copy is
// created with O_DIRECT | O_DSYNC and gets the same blocks, then its exact
// length; both are closed; the copy is opened again through the page cache,
// read whole in 1 MiB pieces and hashed, and the two digests are compared.
//
// Exits 0 when every file was copied and matched, 1 at the first failure
// (with the reason on standard error), 2 for a wrong command line.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kAlignment = 4096;
constexpr uint64_t kLargestBlock = 16 * kMiB;
constexpr size_t kPieceSize = 1024 * 1024;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "copy_floor: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// One entry below the folder walked: a folder to make or a file to copy.
struct Entry {
  std::string relative;  // "" for the folder walked itself
  bool isFolder;
  uint64_t size;
};

std::vector<Entry>* gEntries = nullptr;
size_t gRootLength = 0;

int Collect(const char* path, const struct stat* info, int type, struct FTW*) {
  const std::string relative(path + gRootLength);
  if (type == FTW_D) gEntries->push_back(Entry{relative, true, 0});
  if (type == FTW_F && S_ISREG(info->st_mode)) {
    gEntries->push_back(Entry{relative, false, static_cast<uint64_t>(info->st_size)});
  }
  return 0;
}

std::vector<Entry> ListTree(const std::string& root) {
  std::vector<Entry> entries;
  gEntries = &entries;
  gRootLength = root.size();
  if (::nftw(root.c_str(), Collect, 64, FTW_PHYS) != 0) Fail("walking " + root);
  return entries;
}

uint64_t BlockSizeFor(uint64_t size) {
  if (size <= 64 * kMiB) return 4 * kMiB;
  if (size <= 512 * kMiB) return 8 * kMiB;
  return 16 * kMiB;
}

uint64_t RoundUp(uint64_t value) { return (value + kAlignment - 1) / kAlignment * kAlignment; }

class Descriptor {
 public:
  Descriptor(const std::string& path, int flags) : fd(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
    if (fd < 0) Fail("opening " + path);
  }
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  void Close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fd;
};

class Sha256 {
 public:
  Sha256() : context(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    if (!context) Fail("setting up SHA-256");
  }
  void Start() {
    // Fetched once: EVP_sha256() would be looked up anew at every start.
    static const EVP_MD* const digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (digest == nullptr || EVP_DigestInit_ex(context.get(), digest, nullptr) != 1) {
      Fail("starting SHA-256");
    }
  }
  void Update(const uint8_t* data, size_t length) { EVP_DigestUpdate(context.get(), data, length); }
  std::string Finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return std::string(reinterpret_cast<char*>(digest), length);
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context;
};

// What one copy needs, set up once for all files.
struct Workspace {
  Workspace() : blockOwner(Allocate(), &std::free), block(static_cast<uint8_t*>(blockOwner.get())) {}
  static void* Allocate() {
    void* aligned = nullptr;
    if (::posix_memalign(&aligned, kAlignment, kLargestBlock) != 0) Fail("allocating a block");
    return aligned;
  }
  std::unique_ptr<void, decltype(&std::free)> blockOwner;
  uint8_t* block;  // kLargestBlock bytes, aligned for direct I/O
  std::vector<uint8_t> piece = std::vector<uint8_t>(kPieceSize);
  Sha256 sourceHash;
  Sha256 copyHash;
};

// Reads the source whole into the copy, hashing it on the way.
void CopyBlocks(const std::string& source, const std::string& destination, uint64_t size,
                Workspace& space) {
  Descriptor in(source, O_RDONLY | O_DIRECT);
  Descriptor out(destination, O_WRONLY | O_CREAT | O_TRUNC | O_DIRECT | O_DSYNC);
  const uint64_t blockSize = BlockSizeFor(size);
  space.sourceHash.Start();
  for (uint64_t done = 0; done < size;) {
    const uint64_t ask = size - done < blockSize ? RoundUp(size - done) : blockSize;
    const ssize_t count = ::read(in.fd, space.block, ask);
    if (count < 0) Fail("reading " + source);
    if (count == 0) break;
    space.sourceHash.Update(space.block, static_cast<size_t>(count));
    if (::write(out.fd, space.block, RoundUp(static_cast<uint64_t>(count))) < count) {
      Fail("writing " + destination);
    }
    done += static_cast<uint64_t>(count);
  }
  if (::ftruncate(out.fd, static_cast<off_t>(size)) != 0) Fail("sizing " + destination);
}

// The copy's digest, read back through the page cache.
std::string HashCopy(const std::string& destination, uint64_t size, Workspace& space) {
  Descriptor copy(destination, O_RDONLY);
  space.copyHash.Start();
  for (uint64_t done = 0; done < size;) {
    const ssize_t count = ::read(copy.fd, space.piece.data(), kPieceSize);
    if (count < 0) Fail("re-reading " + destination);
    if (count == 0) break;
    space.copyHash.Update(space.piece.data(), static_cast<size_t>(count));
    done += static_cast<uint64_t>(count);
  }
  return space.copyHash.Finish();
}

void CopyFile(const std::string& source, const std::string& destination, uint64_t size,
              Workspace& space) {
  CopyBlocks(source, destination, size, space);
  if (space.sourceHash.Finish() != HashCopy(destination, size, space)) {
    errno = EIO;
    Fail("the copy differs from its source: " + destination);
  }
}

int Usage() {
  std::fprintf(stderr, "usage: copy_floor SRC DST\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  std::string source = argv[1];
  std::string destination = argv[2];
  while (source.size() > 1 && source.back() == '/') source.pop_back();

  Workspace space;

  struct stat info;
  if (::stat(source.c_str(), &info) != 0) Fail("examining " + source);
  if (!S_ISDIR(info.st_mode)) {
    CopyFile(source, destination, static_cast<uint64_t>(info.st_size), space);
    return 0;
  }
  for (const Entry& entry : ListTree(source)) {
    const std::string target = destination + entry.relative;
    if (!entry.isFolder) {
      CopyFile(source + entry.relative, target, entry.size, space);
    } else if (::mkdir(target.c_str(), 0755) != 0 && errno != EEXIST) {
      Fail("making " + target);
    }
  }
  return 0;
}
