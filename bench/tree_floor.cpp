// tree_floor: the floor of one stage of a verified copy of a whole tree, for
// bench/run.sh. Each mode does one stage for every regular file below a
// folder, one file after the other, with the same kind of I/O a verified copy
// needs, and nothing else: no listing into a queue, no hashing in the copy
// stages, no progress.
//
//   tree_floor read SRC        unbuffered reads of every file, in blocks of
//                              4, 8 or 16 MiB by file size
//   tree_floor write SRC DST   for every file of SRC, a file of its size
//                              under DST (folders made as needed), written
//                              unbuffered and write-through in those blocks
//   tree_floor reread DST      buffered reads of every file in 1 MiB pieces
//   tree_floor hash SRC        SHA-256 (libcrypto) of every file, read in
//                              1 MiB pieces through the page cache
//
// Exits 0 when every file was handled, 1 at the first failure (with the
// reason on standard error), 2 for a wrong command line.
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
constexpr size_t kPieceSize = 1024 * 1024;

struct TreeFile {
  std::string relative;  // below the folder walked
  uint64_t size;
};

std::vector<TreeFile>* gFiles = nullptr;
size_t gRootLength = 0;

int CollectFile(const char* path, const struct stat* info, int type, struct FTW*) {
  if (type == FTW_F && S_ISREG(info->st_mode)) {
    gFiles->push_back(TreeFile{std::string(path + gRootLength), static_cast<uint64_t>(info->st_size)});
  }
  return 0;
}

// Every regular file below root, in the walk's order, without following links.
std::vector<TreeFile> ListTree(const std::string& root) {
  std::vector<TreeFile> files;
  gFiles = &files;
  gRootLength = root.size();
  if (::nftw(root.c_str(), CollectFile, 64, FTW_PHYS) != 0) {
    std::perror(("tree_floor: walking " + root).c_str());
    std::exit(1);
  }
  return files;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "tree_floor: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

uint64_t BlockSizeFor(uint64_t size) {
  if (size <= 64 * kMiB) return 4 * kMiB;
  if (size <= 512 * kMiB) return 8 * kMiB;
  return 16 * kMiB;
}

uint64_t RoundUp(uint64_t value) { return (value + kAlignment - 1) / kAlignment * kAlignment; }

struct AlignedFree {
  void operator()(void* block) const { std::free(block); }
};
using AlignedBlock = std::unique_ptr<uint8_t, AlignedFree>;

AlignedBlock Allocate(uint64_t size) {
  void* block = nullptr;
  if (::posix_memalign(&block, kAlignment, size) != 0) Fail("allocating a block");
  return AlignedBlock(static_cast<uint8_t*>(block));
}

class Descriptor {
 public:
  Descriptor(const std::string& path, int flags) : fd(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
    if (fd < 0) Fail("opening " + path);
  }
  ~Descriptor() { ::close(fd); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  const int fd;
};

void ReadDirect(const std::string& path, uint64_t size, uint8_t* block) {
  Descriptor file(path, O_RDONLY | O_DIRECT);
  const uint64_t blockSize = BlockSizeFor(size);
  for (uint64_t done = 0;;) {
    uint64_t ask = size - done < blockSize ? RoundUp(size - done) : blockSize;
    if (ask == 0) ask = kAlignment;
    ssize_t count = ::read(file.fd, block, ask);
    if (count < 0) Fail("reading " + path);
    if (count == 0) return;
    done += static_cast<uint64_t>(count);
  }
}

// Makes the folders above path, skipping the work when they are those of
// the file before.
void MakeParents(const std::string& path) {
  static std::string lastParent;
  const std::string parent = path.substr(0, path.rfind('/'));
  if (parent == lastParent) return;
  lastParent = parent;
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (::mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) {
      Fail("making the folder of " + path);
    }
  }
}

void WriteThrough(const std::string& path, uint64_t size, const uint8_t* block) {
  MakeParents(path);
  Descriptor file(path, O_WRONLY | O_CREAT | O_TRUNC | O_DIRECT | O_DSYNC);
  if (size != 0 && ::ftruncate(file.fd, static_cast<off_t>(size)) != 0) Fail("sizing " + path);
  const uint64_t blockSize = BlockSizeFor(size);
  for (uint64_t done = 0; done < size;) {
    const uint64_t length = size - done < blockSize ? RoundUp(size - done) : blockSize;
    ssize_t count = ::write(file.fd, block, length);
    if (count <= 0) Fail("writing " + path);
    done += static_cast<uint64_t>(count);
  }
  if (::ftruncate(file.fd, static_cast<off_t>(size)) != 0) Fail("cutting " + path);
}

// Reads a file in 1 MiB pieces through the page cache, handing each piece on.
template <typename Use>
void ReadPieces(const std::string& path, uint8_t* piece, Use use) {
  Descriptor file(path, O_RDONLY);
  ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  for (;;) {
    ssize_t count = ::read(file.fd, piece, kPieceSize);
    if (count < 0) Fail("reading " + path);
    if (count == 0) return;
    use(piece, static_cast<size_t>(count));
  }
}

void Hash(const std::string& path, uint8_t* piece) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                 &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    Fail("setting up SHA-256");
  }
  ReadPieces(path, piece, [&](const uint8_t* data, size_t length) {
    EVP_DigestUpdate(context.get(), data, length);
  });
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  EVP_DigestFinal_ex(context.get(), digest, &digestLength);
}

int Usage() {
  std::fprintf(stderr, "usage: tree_floor read|reread|hash FOLDER, or tree_floor write SRC DST\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string mode = argv[1];
  std::string root = argv[2];
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if ((mode == "write") != (argc == 4)) return Usage();
  const std::vector<TreeFile> files = ListTree(root);
  if (mode == "read" || mode == "write") {
    AlignedBlock block = Allocate(16 * kMiB);
    if (mode == "write") {
      // Bytes that no disk or host can shrink: a simple generator, once.
      uint64_t state = 0x9E3779B97F4A7C15ull;
      for (uint64_t i = 0; i < 16 * kMiB; ++i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        block.get()[i] = static_cast<uint8_t>(state);
      }
    }
    for (const TreeFile& file : files) {
      if (mode == "read") {
        ReadDirect(root + file.relative, file.size, block.get());
      } else {
        WriteThrough(std::string(argv[3]) + file.relative, file.size, block.get());
      }
    }
  } else if (mode == "reread" || mode == "hash") {
    std::vector<uint8_t> piece(kPieceSize);
    for (const TreeFile& file : files) {
      if (mode == "reread") {
        ReadPieces(root + file.relative, piece.data(), [](const uint8_t*, size_t) {});
      } else {
        Hash(root + file.relative, piece.data());
      }
    }
  } else {
    return Usage();
  }
  return 0;
}
