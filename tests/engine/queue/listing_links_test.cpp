// Links inside a listed tree: listed by what they lead to, never entered, and
// never placed outside the destination folder.
#include "tests/engine/queue/listing_fixture.h"

#include <algorithm>
#include <set>

namespace queue_test {
namespace {

class QueueListingLinks : public ListingTest {
 protected:
  void SetUp() override {
    if (!CanMakeLinks(tmp.path())) GTEST_SKIP() << "symbolic links cannot be made here";
    MakeFile(source / "top.txt", 6);
    MakeFile(source / "dir" / "inner.txt", 8);
    MakeFile(outside / "o.txt", 11);
  }

  std::vector<std::string> SortedItems() const {
    std::vector<std::string> items = Items();
    std::sort(items.begin(), items.end());
    return items;
  }

  static std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
  }

  // Every destination lies below the destination folder; only the source's
  // own item maps to the folder itself.
  void ExpectEveryDestinationInside() const {
    const std::vector<quillmere::QueueItem> items = queue.GetItems();
    for (size_t i = 0; i < items.size(); ++i) {
      const fs::path relative = quillmere::Utf8ToPath(items[i].destination)
                                    .lexically_normal()
                                    .lexically_relative(destination.lexically_normal());
      if (i == 0) {
        EXPECT_EQ(relative, fs::path("."));
        continue;
      }
      ASSERT_FALSE(relative.empty()) << items[i].destination;
      EXPECT_NE(*relative.begin(), fs::path("..")) << items[i].destination;
      EXPECT_NE(*relative.begin(), fs::path(".")) << items[i].destination;
    }
  }

  const fs::path outside = tmp.path() / "outside";
};

TEST_F(QueueListingLinks, LinksInsideTheTreeGoWhereTheirTargetsGoAndAreNotEntered) {
  fs::create_symlink(fs::path("dir") / "inner.txt", source / "file_link");
  fs::create_directory_symlink("dir", source / "dir_link");
  fs::create_directory_symlink(".", source / "dir" / "self");

  EXPECT_TRUE(Add(source, destination));

  EXPECT_EQ(SortedItems(),
            Sorted({FolderItem(source, destination),
                    FileItem(source / "top.txt", destination / "top.txt", 6),
                    FolderItem(source / "dir", destination / "dir"),
                    FileItem(source / "dir" / "inner.txt", destination / "dir" / "inner.txt", 8),
                    FolderItem(source / "dir" / "self", destination / "dir"),
                    FileItem(source / "file_link", destination / "dir" / "inner.txt", 8),
                    FolderItem(source / "dir_link", destination / "dir")}));
  EXPECT_EQ(queue.GetStats().totalFiles, 3u);
  EXPECT_EQ(queue.GetStats().totalBytes, 22u);
  EXPECT_TRUE(Log().empty());
}

// A link out of the tree, to the source folder itself, or up to an ancestor
// would give a destination outside (or equal to) the destination folder; it
// is placed at its own place in the tree instead.
TEST_F(QueueListingLinks, LinksLeadingOutOfTheTreeStayAtTheirOwnPlace) {
  fs::create_directory_symlink(outside, source / "out_dir");
  fs::create_symlink(outside / "o.txt", source / "out_file");
  fs::create_directory_symlink(source, source / "source_link");
  fs::create_directory_symlink("..", source / "dir" / "back");

  EXPECT_TRUE(Add(source, destination));

  EXPECT_EQ(SortedItems(),
            Sorted({FolderItem(source, destination),
                    FileItem(source / "top.txt", destination / "top.txt", 6),
                    FolderItem(source / "dir", destination / "dir"),
                    FileItem(source / "dir" / "inner.txt", destination / "dir" / "inner.txt", 8),
                    FolderItem(source / "dir" / "back", destination / "dir" / "back"),
                    FolderItem(source / "out_dir", destination / "out_dir"),
                    FileItem(source / "out_file", destination / "out_file", 11),
                    FolderItem(source / "source_link", destination / "source_link")}));
  ExpectEveryDestinationInside();
  EXPECT_EQ(queue.GetStats().totalFiles, 3u);
  EXPECT_TRUE(Log().empty());
}

TEST_F(QueueListingLinks, DanglingLinkIsLeftOutWithoutALogLine) {
  fs::create_symlink(tmp.path() / "gone.txt", source / "dangling");

  EXPECT_TRUE(Add(source, destination));

  EXPECT_EQ(SortedItems(), Sorted({FolderItem(source, destination),
                                   FileItem(source / "top.txt", destination / "top.txt", 6),
                                   FolderItem(source / "dir", destination / "dir"),
                                   FileItem(source / "dir" / "inner.txt",
                                            destination / "dir" / "inner.txt", 8)}));
  EXPECT_TRUE(Log().empty());
}

std::set<fs::path> NamesIn(const fs::path& folder) {
  std::set<fs::path> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename());
  }
  return names;
}

TEST_F(QueueListingLinks, CopyingATreeWithLinksWritesOnlyInsideTheDestination) {
  fs::create_directory_symlink(outside, source / "out_dir");
  fs::create_symlink(outside / "o.txt", source / "out_file");
  fs::create_directory_symlink(source, source / "source_link");
  fs::create_directory_symlink("..", source / "dir" / "back");
  const std::vector<uint8_t> outsideBytes = testing_support::ReadBytes(outside / "o.txt");

  ASSERT_TRUE(Add(source, destination));
  EXPECT_TRUE(queue.Run());

  EXPECT_EQ(NamesIn(tmp.path()), (std::set<fs::path>{"src", "dest", "outside"}));
  EXPECT_EQ(NamesIn(outside), std::set<fs::path>{"o.txt"});
  EXPECT_EQ(testing_support::ReadBytes(outside / "o.txt"), outsideBytes);
  EXPECT_EQ(NamesIn(destination),
            (std::set<fs::path>{"top.txt", "dir", "out_dir", "out_file", "source_link"}));
  EXPECT_EQ(testing_support::ReadBytes(destination / "out_file"), outsideBytes);
  EXPECT_TRUE(NamesIn(destination / "out_dir").empty());
  EXPECT_TRUE(NamesIn(destination / "source_link").empty());
  EXPECT_EQ(NamesIn(destination / "dir"), (std::set<fs::path>{"inner.txt", "back"}));
  EXPECT_TRUE(NamesIn(destination / "dir" / "back").empty());
  EXPECT_FALSE(fs::is_symlink(destination / "out_dir"));
  EXPECT_EQ(queue.GetStats().succeededFiles, 3u);
  EXPECT_TRUE(Log().empty());
}

}  // namespace
}  // namespace queue_test
