#include "platform/file_units.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tavel::platform {
namespace {

namespace fs = std::filesystem;

class FileUnitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tavel-units-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
  }
  void TearDown() override {
    ::chmod(dir_.c_str(), 0700);
    fs::remove_all(dir_);
  }
  std::string read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  std::string dir_;
};

TEST_F(FileUnitsTest, ExistingFileKeepsContentUntilFirstWriteThenIsReplaced) {
  write("Tavel.log", "old line 1\nold line 2\n");
  FileUnits units(dir_);
  ASSERT_TRUE(units.open(2, "Tavel.log", false));
  ASSERT_TRUE(units.flush(2));
  EXPECT_EQ(read("Tavel.log"), "old line 1\nold line 2\n");
  ASSERT_TRUE(units.writeLine(2, "new"));
  units.close(2);
  EXPECT_EQ(read("Tavel.log"), "new\n");
}

TEST_F(FileUnitsTest, AppendFollowsExistingContent) {
  write("Tavel.log", "first\n");
  FileUnits units(dir_);
  ASSERT_TRUE(units.open(2, "Tavel.log", true));
  units.writeLine(2, "second");
  units.close(2);
  EXPECT_EQ(read("Tavel.log"), "first\nsecond\n");
}

TEST_F(FileUnitsTest, MissingFileIsCreatedEmptyAndReadsEndOfFile) {
  FileUnits units(dir_);
  ASSERT_TRUE(units.open(1, "new.dat", false));
  std::string line;
  EXPECT_EQ(units.readLine(1, line), ReadResult::EndOfFile);
  EXPECT_TRUE(fs::exists(dir_ + "/new.dat"));
}

TEST_F(FileUnitsTest, ReadsStripLineEndsAndRewindStartsAgain) {
  write("d.dat", "A B\r\n1 2\n3 4");
  FileUnits units(dir_);
  ASSERT_TRUE(units.open(1, "d.dat", false));
  std::string line;
  ASSERT_EQ(units.readLine(1, line), ReadResult::Success);
  EXPECT_EQ(line, "A B");
  ASSERT_EQ(units.readLine(1, line), ReadResult::Success);
  EXPECT_EQ(line, "1 2");
  ASSERT_EQ(units.readLine(1, line), ReadResult::Success);
  EXPECT_EQ(line, "3 4");
  EXPECT_EQ(units.readLine(1, line), ReadResult::EndOfFile);
  ASSERT_TRUE(units.rewind(1));
  ASSERT_EQ(units.readLine(1, line), ReadResult::Success);
  EXPECT_EQ(line, "A B");
  // Reading must not have cut the file.
  units.close(1);
  EXPECT_EQ(read("d.dat"), "A B\r\n1 2\n3 4");
}

TEST_F(FileUnitsTest, FolderCannotBeOpenedAsAFile) {
  fs::create_directory(dir_ + "/sub");
  FileUnits units(dir_);
  EXPECT_FALSE(units.open(1, "sub", false));
  EXPECT_FALSE(units.isOpen(1));
}

TEST_F(FileUnitsTest, ReplacingFileAppearsOnlyWhenClosed) {
  write("Taveltr.xls", "earlier\n");
  FileUnits units(dir_);
  ASSERT_TRUE(units.openReplacing(21, "Taveltr.xls"));
  units.writeLine(21, "new");
  EXPECT_EQ(read("Taveltr.xls"), "earlier\n");
  EXPECT_TRUE(units.closeChecked(21));
  EXPECT_EQ(read("Taveltr.xls"), "new\n");
  EXPECT_FALSE(fs::exists(dir_ + "/Taveltr.xls.part"));
}

TEST_F(FileUnitsTest, ReadOnlyFolderRefusesNewFilesAndKeepsOldOnes) {
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  write("Taveltr.xls", "earlier\n");
  ::chmod(dir_.c_str(), 0500);
  FileUnits units(dir_);
  EXPECT_FALSE(units.openReplacing(21, "Taveltr.xls"));
  EXPECT_EQ(read("Taveltr.xls"), "earlier\n");
}

TEST_F(FileUnitsTest, FullDiskFailsTheCloseAndKeepsTheEarlierFile) {
  if (!fs::exists("/dev/full")) GTEST_SKIP();
  FileUnits units("");
  // /dev/full cannot be renamed over, but the write failure is what matters.
  ASSERT_TRUE(units.open(21, "/dev/full", true));
  std::string big(1 << 21, 'x');
  units.writeLine(21, big);
  EXPECT_FALSE(units.closeChecked(21));
}

TEST_F(FileUnitsTest, DeleteFilesMatchesTheWildcardOnly) {
  for (const char* name : {"pic_A.bmp", "pic_[.bmp", "pic_\\.bmp", "pic_mine.bmp", "pic_A.png",
                           "apic_A.bmp", "Tavel.log"})
    write(name, "x");
  FileUnits units(dir_);
  units.deleteFiles("pic_*.bmp");
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir_)) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Tavel.log", "apic_A.bmp", "pic_A.png"}));
}

}  // namespace
}  // namespace tavel::platform
