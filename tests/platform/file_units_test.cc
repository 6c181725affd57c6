// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_units.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <sstream>

namespace tavel::platform {
namespace {

namespace fs = std::filesystem;

// Files may grow to `bytes` while it lives; a write beyond fails with EFBIG
// instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved_;
    small.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  struct rlimit saved_ {};
};

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
  ASSERT_TRUE(units.openForReading(3, "other.dat"));
  EXPECT_EQ(units.readLine(3, line), ReadResult::EndOfFile);
  EXPECT_FALSE(units.writeLine(3, "x"));
  EXPECT_FALSE(units.writeFailed(3));  // not a lost line: the unit is for reading
  EXPECT_TRUE(fs::exists(dir_ + "/other.dat"));
}

TEST_F(FileUnitsTest, OnlyRegularFilesAreOpenedAndNothingWaits) {
  // A pipe without a writer or reader would block an ordinary open or read.
  ASSERT_EQ(::mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
  fs::create_directory(dir_ + "/sub");
  FileUnits units(dir_);
  for (const char* name : {"pipe", "sub", "/dev/null"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(units.kind(name), PathKind::Other);
    EXPECT_FALSE(units.open(1, name, false));
    EXPECT_FALSE(units.open(2, name, true));
    EXPECT_FALSE(units.openForReading(1, name));
    EXPECT_FALSE(units.openReplacing(21, name));
    EXPECT_FALSE(units.isOpen(1) || units.isOpen(2) || units.isOpen(21));
  }
  EXPECT_TRUE(fs::is_fifo(dir_ + "/pipe"));  // not replaced by a spreadsheet
  EXPECT_EQ(units.kind("none"), PathKind::Missing);
  write("d.dat", "1\n");
  EXPECT_EQ(units.kind("d.dat"), PathKind::RegularFile);
}

TEST_F(FileUnitsTest, ReadsStripLineEndsAndRewindStartsAgain) {
  write("d.dat", "A B\r\n1 2\r3 4");
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
  EXPECT_EQ(read("d.dat"), "A B\r\n1 2\r3 4");
}

TEST_F(FileUnitsTest, PiecesOfARecordNeverExceedTheirSize) {
  write("d.dat", "abcdef\r\nxyz\nuv\r\rlast");
  FileUnits units(dir_);
  ASSERT_TRUE(units.openForReading(1, "d.dat"));
  std::vector<std::pair<std::string, bool>> got;
  std::string piece;
  bool ended = false;
  while (units.readPiece(1, piece, 3, ended) == ReadResult::Success) got.emplace_back(piece, ended);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, bool>>{{"abc", false},
                                                            {"def", true},
                                                            {"xyz", true},
                                                            {"uv", true},
                                                            {"", true},
                                                            {"las", false},
                                                            {"t", true}}));
}

// Reading takes the file in large blocks: a line end, a CR LF or a field
// split by a block's end, and a line longer than a block, read as they do
// byte by byte. The expectation is the file cut by hand at its line ends.
TEST_F(FileUnitsTest, LinesReadAlikeWhereverTheFileIsCutIntoBlocks) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;  // a read's size, or a multiple of it
  for (std::size_t lead : {kBlock - 2, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock - 1}) {
    const std::string first(lead, 'a');
    const std::string text = first + "\r\n1 2\r\rx\n" + std::string(kBlock + 5, 'b') + "\r";
    write("d.dat", text);
    FileUnits units(dir_);
    ASSERT_TRUE(units.openForReading(1, "d.dat"));
    std::vector<std::string> lines;
    std::string line;
    while (units.readLine(1, line) == ReadResult::Success) lines.push_back(line);
    EXPECT_EQ(lines,
              (std::vector<std::string>{first, "1 2", "", "x", std::string(kBlock + 5, 'b')}))
        << "lead " << lead;
    // Pieces of a bounded size end where they did.
    ASSERT_TRUE(units.rewind(1));
    std::string piece;
    bool ended = false;
    std::size_t total = 0;
    while (units.readPiece(1, piece, 1000, ended) == ReadResult::Success && !ended) {
      ASSERT_EQ(piece.size(), 1000u);
      total += piece.size();
    }
    EXPECT_EQ(total + piece.size(), lead);
    ASSERT_EQ(units.readLine(1, line), ReadResult::Success);
    EXPECT_EQ(line, "1 2");
  }
}

// A file read and then written is cut where the reader is, not where the
// reading had read ahead to.
TEST_F(FileUnitsTest, AWriteAfterReadingCutsTheFileAtTheLineRead) {
  write("Tavel.log", "one\ntwo\nthree\n");
  FileUnits units(dir_);
  ASSERT_TRUE(units.open(2, "Tavel.log", false));
  std::string line;
  ASSERT_EQ(units.readLine(2, line), ReadResult::Success);
  ASSERT_TRUE(units.writeLine(2, "new"));
  ASSERT_TRUE(units.closeChecked(2));
  EXPECT_EQ(read("Tavel.log"), "one\nnew\n");
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

TEST_F(FileUnitsTest, FullDiskFailsTheCloseKeepsTheEarlierFileAndIsRemembered) {
  // Files may grow to 4 kB only: a larger write fails as on a full disk.
  std::optional<FileSizeLimit> limit(4096);
  write("Taveltr.xls", "earlier\n");
  FileUnits units(dir_);
  ASSERT_TRUE(units.openReplacing(21, "Taveltr.xls"));
  ASSERT_TRUE(units.open(2, "Tavel.log", false));
  const std::string big(8000, 'x');
  units.writeLine(21, big);
  units.writeLine(2, big);
  EXPECT_FALSE(units.writeFailed(2));  // still in the buffer
  EXPECT_FALSE(units.closeChecked(21));
  EXPECT_FALSE(units.closeChecked(2));
  limit.reset();
  EXPECT_EQ(read("Taveltr.xls"), "earlier\n");
  // The loss outlives the unit: a reopened log still reports it.
  ASSERT_TRUE(units.open(2, "Tavel.log", true));
  EXPECT_TRUE(units.writeFailed(2));
  EXPECT_TRUE(units.writeFailed(21));
  EXPECT_FALSE(units.writeFailed(22));
  units.closeAll();
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos);
}

TEST_F(FileUnitsTest, BlockWritesAreTheirLinesAndFailAsLinesDo) {
  write("Tavel.log", "an earlier, longer log\n");
  FileUnits units(dir_);
  ASSERT_TRUE(units.open(2, "Tavel.log", false));
  EXPECT_TRUE(units.writeLines(2, ""));  // no line: the earlier log is not cut yet
  EXPECT_TRUE(units.flush(2));
  EXPECT_EQ(read("Tavel.log"), "an earlier, longer log\n");
  EXPECT_TRUE(units.writeLine(2, "a"));
  EXPECT_TRUE(units.writeLines(2, "b\nc\n"));
  EXPECT_TRUE(units.writeLines(2, "d"));  // a last line without its end gets one
  EXPECT_TRUE(units.writeLines(2, "\n"));
  EXPECT_TRUE(units.closeChecked(2));
  EXPECT_EQ(read("Tavel.log"), "a\nb\nc\nd\n\n");

  ASSERT_TRUE(units.openForReading(1, "Tavel.log"));
  EXPECT_FALSE(units.writeLines(1, "x\n"));
  EXPECT_FALSE(units.writeLines(7, "x\n"));  // not open

  // A block larger than the stream's buffer goes out at once and fails at
  // once on a full disk; the earlier file stays.
  write("Taveltr.xls", "earlier\n");
  std::optional<FileSizeLimit> limit(4096);
  ASSERT_TRUE(units.openReplacing(21, "Taveltr.xls"));
  const std::string block = std::string(3 << 20, 'x') + "\n";
  EXPECT_FALSE(units.writeLines(21, block));
  EXPECT_TRUE(units.writeFailed(21));
  EXPECT_FALSE(units.writeLines(21, "y\n"));
  EXPECT_FALSE(units.closeChecked(21));
  limit.reset();
  EXPECT_EQ(read("Taveltr.xls"), "earlier\n");
}

// Names in the folder, sorted.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(FileUnitsTest, TwoWritersOfOneFileNeverMixAndLinksAreNotFollowed) {
  // A link planted at the name earlier versions used must not be written through.
  write("victim", "keep\n");
  fs::create_symlink(dir_ + "/victim", dir_ + "/Taveltr.xls.part");
  const mode_t savedMask = ::umask(022);
  FileUnits first(dir_), second(dir_);
  ASSERT_TRUE(first.openReplacing(21, "Taveltr.xls"));
  ASSERT_TRUE(second.openReplacing(21, "Taveltr.xls"));
  for (int i = 0; i < 3; ++i) {
    first.writeLine(21, "first " + std::to_string(i));
    ASSERT_TRUE(first.flush(21));
    second.writeLine(21, "second " + std::to_string(i));
    ASSERT_TRUE(second.flush(21));
  }
  EXPECT_TRUE(first.closeChecked(21));
  EXPECT_EQ(read("Taveltr.xls"), "first 0\nfirst 1\nfirst 2\n");
  EXPECT_TRUE(second.closeChecked(21));
  EXPECT_EQ(read("Taveltr.xls"), "second 0\nsecond 1\nsecond 2\n");
  ::umask(savedMask);
  struct stat st {};
  ASSERT_EQ(::stat((dir_ + "/Taveltr.xls").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // as any new file under umask 022
  EXPECT_EQ(read("victim"), "keep\n");
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"Taveltr.xls", "Taveltr.xls.part", "victim"}));

  // A planted link, even a dangling one, at a would-be name is passed over.
  fs::create_symlink(dir_ + "/victim", dir_ + "/t.X.part");
  fs::create_symlink(dir_ + "/nowhere", dir_ + "/t.Y.part");
  std::vector<std::string> parts = {"X", "Y", "Z"};
  std::string made;
  const int fd = createUniqueFile(dir_ + "/t.", ".part", made, [&parts] {
    std::string p = parts.front();
    parts.erase(parts.begin());
    return p;
  });
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(made, dir_ + "/t.Z.part");
  EXPECT_EQ(read("victim"), "keep\n");
  EXPECT_FALSE(fs::exists(dir_ + "/nowhere"));
}

TEST_F(FileUnitsTest, InterruptedRunLeavesNoTemporaryFile) {
  write("Taveltr.xls", "earlier\n");
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    EXPECT_EXIT(
        {
          FileUnits units(dir_);
          if (!units.openReplacing(21, "Taveltr.xls") || !units.openReplacing(22, "Tavelcr.xls"))
            std::_Exit(3);
          units.writeLine(21, std::string(100000, 'x'));
          units.flush(21);
          std::raise(sig);
          std::_Exit(4);
        },
        ::testing::KilledBySignal(sig), "");
    EXPECT_EQ(listing(dir_), (std::vector<std::string>{"Taveltr.xls"}));
    EXPECT_EQ(read("Taveltr.xls"), "earlier\n");
  }
}

// The log is a sequential file opened with status "unknown": its first line
// gives its name to a new file whenever the old one is reachable some other
// way, so neither a link's target nor another name of the file is written.
TEST_F(FileUnitsTest, TheLogNeverWritesThroughALinkOrAnotherName) {
  write("victim", "keep\n");
  fs::create_symlink(dir_ + "/victim", dir_ + "/Tavel.log");
  write("data.dat", "A B\n1 2\n");
  fs::create_hard_link(dir_ + "/data.dat", dir_ + "/hard.log");
  FileUnits units(dir_);
  ASSERT_TRUE(units.open(2, "Tavel.log", false));
  ASSERT_TRUE(units.open(3, "hard.log", false));
  std::string line;
  ASSERT_EQ(units.readLine(3, line), ReadResult::Success);  // read through, as before
  EXPECT_EQ(line, "A B");
  EXPECT_EQ(read("Tavel.log"), "keep\n");  // nothing written yet: nothing replaced
  ASSERT_TRUE(units.writeLine(2, "log line"));
  ASSERT_TRUE(units.writeLine(3, "after the first line"));
  EXPECT_TRUE(units.closeChecked(2));
  EXPECT_TRUE(units.closeChecked(3));
  EXPECT_EQ(read("victim"), "keep\n");
  EXPECT_FALSE(fs::is_symlink(dir_ + "/Tavel.log"));
  EXPECT_EQ(read("Tavel.log"), "log line\n");
  EXPECT_EQ(read("data.dat"), "A B\n1 2\n");
  EXPECT_EQ(read("hard.log"), "A B\nafter the first line\n");  // cut where it was read to
  // The run's reopening in append mode: a link planted since is refused.
  ASSERT_TRUE(units.open(2, "Tavel.log", true));
  units.close(2);
  fs::remove(dir_ + "/Tavel.log");
  fs::create_symlink(dir_ + "/victim", dir_ + "/Tavel.log");
  EXPECT_FALSE(units.open(2, "Tavel.log", true));
  EXPECT_EQ(read("victim"), "keep\n");
  // A link to nowhere becomes the log itself, not the file it names.
  fs::create_symlink(dir_ + "/nowhere", dir_ + "/gone.log");
  ASSERT_TRUE(units.open(4, "gone.log", false));
  EXPECT_TRUE(units.closeChecked(4));
  EXPECT_FALSE(fs::is_symlink(dir_ + "/gone.log"));
  EXPECT_EQ(listing(dir_),
            (std::vector<std::string>{"Tavel.log", "data.dat", "gone.log", "hard.log", "victim"}));
}

// Whole files written at once (a model, a picture) and read at once (a model).
TEST_F(FileUnitsTest, WholeFilesAreReplacedAndReadOnlyWhenRegularAndBounded) {
  ASSERT_EQ(::mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
  fs::create_directory(dir_ + "/sub");
  std::vector<std::string> refused = {"pipe", "sub"};
  // A device node of the test's own (the zero device): endless if read.
  if (::mknod((dir_ + "/zero").c_str(), S_IFCHR | 0600, ::makedev(1, 5)) == 0)
    refused.push_back("zero");
  std::string why, text;
  for (const std::string& name : refused) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(replaceFileWith(dir_ + "/" + name, "x", why));
    EXPECT_NE(why.find(name == "sub"    ? "is a folder"
                       : name == "pipe" ? "is a FIFO"
                                        : "is a device"),
              std::string::npos)
        << why;
    EXPECT_FALSE(readRegularFile(dir_ + "/" + name, 1000, text, why));
    EXPECT_NE(why.find(", not a regular file"), std::string::npos) << why;
  }
  EXPECT_TRUE(fs::is_fifo(dir_ + "/pipe"));

  write("victim", "keep\n");
  fs::create_symlink(dir_ + "/victim", dir_ + "/m.json");
  ASSERT_TRUE(replaceFileWith(dir_ + "/m.json", "{}\n", why)) << why;
  EXPECT_EQ(read("victim"), "keep\n");
  EXPECT_FALSE(fs::is_symlink(dir_ + "/m.json"));
  ASSERT_TRUE(readRegularFile(dir_ + "/m.json", 3, text, why)) << why;
  EXPECT_EQ(text, "{}\n");
  EXPECT_FALSE(readRegularFile(dir_ + "/m.json", 2, text, why));
  EXPECT_EQ(why, "is larger than 2 bytes");
  EXPECT_EQ(text, "");

  // Over the file-size limit: the earlier file stays, and the reason is given.
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(replaceFileWith(dir_ + "/m.json", std::string(8000, 'x'), why));
  }
  EXPECT_EQ(why, "could not be written: File too large");
  EXPECT_EQ(read("m.json"), "{}\n");
  std::vector<std::string> expected = {"m.json", "pipe", "sub", "victim"};
  if (refused.size() == 3) expected.push_back("zero");
  EXPECT_EQ(listing(dir_), expected);
}

// A file read in pieces: all of it in order, and refused as a whole read
// refuses (not a regular file, missing, larger than the limit, found only
// while reading).
TEST_F(FileUnitsTest, AFileReadInPiecesIsWholeAndBounded) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i) + "\n";
  write("m.json", text);
  std::string got, piece;
  RegularFilePieces pieces(dir_ + "/m.json", text.size());
  int count = 0;
  while (pieces.next(piece)) {
    EXPECT_LE(piece.size(), std::size_t{1} << 16);
    got += piece;
    ++count;
  }
  EXPECT_EQ(pieces.why(), "");
  EXPECT_EQ(got, text);
  EXPECT_GT(count, 1);

  fs::create_directory(dir_ + "/sub");
  EXPECT_EQ(RegularFilePieces(dir_ + "/sub", 10).why(), "is a folder, not a regular file");
  EXPECT_EQ(RegularFilePieces(dir_ + "/none", 10).why().rfind("cannot be read: ", 0), 0u);
  EXPECT_EQ(RegularFilePieces(dir_ + "/m.json", text.size() - 1).why(),
            "is larger than " + std::to_string(text.size() - 1) + " bytes");
  // Grown after it was measured: the reading stops past the limit.
  RegularFilePieces growing(dir_ + "/m.json", text.size());
  write("m.json", text + text);
  while (growing.next(piece)) {
  }
  EXPECT_EQ(growing.why(), "is larger than " + std::to_string(text.size()) + " bytes");
}

// Content made piece by piece takes the file's place only when every piece
// was made and written: a maker that gives up or throws, or a write past the
// size limit (which stops the maker), leaves the earlier file and no other.
TEST_F(FileUnitsTest, APieceByPieceReplacementCommitsOnlyWhole) {
  write("m.json", "earlier\n");
  const std::string path = dir_ + "/m.json";
  std::string why;
  EXPECT_FALSE(replaceFileWithPieces(
      path, [](const PieceWriter& put) { return put("half") && false; }, why));
  EXPECT_THROW(replaceFileWithPieces(
                   path,
                   [](const PieceWriter& put) -> bool {
                     put("half");
                     throw std::bad_alloc();
                   },
                   why),
               std::bad_alloc);
  int calls = 0;
  {
    FileSizeLimit limit(4096);
    EXPECT_FALSE(replaceFileWithPieces(
        path,
        [&](const PieceWriter& put) {
          for (int k = 0; k < 4; ++k) {
            ++calls;
            if (!put(std::string(3000, 'x'))) return false;
          }
          return true;
        },
        why));
  }
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(why, "could not be written: File too large");
  EXPECT_EQ(read("m.json"), "earlier\n");
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"m.json"}));
  ASSERT_TRUE(replaceFileWithPieces(
      path, [](const PieceWriter& put) { return put("{") && put("}\n"); }, why))
      << why;
  EXPECT_EQ(read("m.json"), "{}\n");
}

// A unit that replaces a file commits only when it is closed: a runtime that
// goes away half way (an exception unwinding a command) leaves the old file.
TEST_F(FileUnitsTest, AnAbandonedReplacementLeavesTheEarlierFile) {
  write("Taveltr.xls", "earlier\n");
  {
    FileUnits units(dir_);
    ASSERT_TRUE(units.openReplacing(21, "Taveltr.xls"));
    units.writeLine(21, "half");
  }
  EXPECT_EQ(listing(dir_), (std::vector<std::string>{"Taveltr.xls"}));
  EXPECT_EQ(read("Taveltr.xls"), "earlier\n");
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
