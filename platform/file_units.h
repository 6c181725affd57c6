// SPDX-License-Identifier: GPL-3.0-or-later
// Numbered text units backed by files, shared by both runtimes, and the one
// way every output file of the program is written. A unit opened with status
// "unknown" is created when missing and positioned at its start; an existing
// file keeps its content until the first line is written, which cuts it
// there (sequential files). That cut never writes into the old file: a new
// file takes its name, so a link at the name is replaced, not followed, and
// another name of the same file (a hard link) keeps the old content. Reads
// strip the line end (LF, CR LF or a lone CR). Only regular files are
// opened: a pipe, a device or a folder is refused without ever waiting on it.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "platform/runtime.h"

namespace tavel::platform {

class FileUnits {
 public:
  explicit FileUnits(std::string baseDir = "") : baseDir_(std::move(baseDir)) {}
  ~FileUnits();
  FileUnits(const FileUnits&) = delete;
  FileUnits& operator=(const FileUnits&) = delete;

  // A relative name is taken from the base folder ("" = the process's cwd).
  std::string resolve(std::string_view name) const;
  const std::string& baseDir() const { return baseDir_; }
  PathKind kind(std::string_view name) const;

  bool open(int unit, std::string_view fileName, bool append);
  bool openForReading(int unit, std::string_view fileName);
  bool openReplacing(int unit, std::string_view fileName);
  bool isOpen(int unit) const { return units_.count(unit) != 0; }
  void close(int unit) { closeChecked(unit); }
  bool closeChecked(int unit);
  void closeAll();
  // Drops every unit that replaces a file without putting it in place: for
  // a command that ended half way (an exception), whose outputs are
  // incomplete. The destructor does the same; only a close commits.
  void abandonReplacing();
  bool rewind(int unit);
  ReadResult readLine(int unit, std::string& line);
  ReadResult readPiece(int unit, std::string& piece, std::size_t maxChars, bool& lineEnded);
  bool writeLine(int unit, std::string_view line);
  // Lines each ended by '\n' (a last one without it gets it), in one write:
  // the same bytes and the same failures as a writeLine for each.
  bool writeLines(int unit, std::string_view lines);
  bool flush(int unit);
  // True once a write, flush or close on this unit number has failed.
  bool writeFailed(int unit) const { return failedUnits_.count(unit) != 0; }
  // Deletes every regular file of the base folder whose name matches the
  // wildcard pattern (* ? and [...], as fnmatch reads them). Failures are
  // ignored.
  void deleteFiles(std::string_view pattern) const;

 private:
  struct Unit {
    std::FILE* file = nullptr;
    bool truncatePending = false;  // cut the file at the first write
    bool replacePending = false;   // the first write gives the name to a new file
    bool writeFailed = false;
    bool readOnly = false;
    std::string tempPath;   // replacing: where the lines go
    std::string finalPath;  // replacing: renamed to this on close
    std::string namePath;   // status "unknown": the name a pending replacement takes
    int tempSlot = -1;      // replacing: its entry in the interrupt clean-up list
    // Bytes read from the file ahead of the reader: reads take whole blocks
    // and hand lines out of them; inAt is the next byte not yet handed out.
    std::string in;
    std::size_t inAt = 0;
  };
  // Refills u.in when it has been handed out; false at the end of the file
  // or on a read error (ferror then tells which).
  static bool fillInput(Unit& u);
  // Gives the bytes read ahead back to the file, so that its position is
  // the reader's again before a write, a seek or a flush.
  static void dropInput(Unit& u);
  bool adopt(int unit, int fd, const char* mode, Unit u);
  // The unit ready for its next line (a pending cut or replacement done),
  // or null when it cannot take one.
  Unit* unitForWriting(int unit);
  bool replaceAtPosition(Unit& u);
  void discard(Unit& u);
  void noteFailure(int unit, Unit& u);

  std::string baseDir_;
  std::map<int, Unit> units_;
  std::set<int> failedUnits_;
};

// Makes the generated part of a temporary file's name.
using TempNameSource = std::function<std::string()>;

// What a path names, for messages: "a folder", "a FIFO", "a device", "a
// socket", "a regular file", "a link to nowhere", "missing". Links are
// followed, as an open would follow them.
std::string describePath(const std::string& path);

// Whether writing output (its name given to a new file) would take the place
// of what other names: the same name once the folders' links are resolved,
// or the same file by device and inode (a hard link, or other a link to the
// file at output). A link at output itself is no match: it is replaced, and
// its target keeps its content.
bool wouldReplace(const std::string& output, const std::string& other);

// Writes bytes as the whole new content of path, through a new file beside
// it that is renamed into place: a failed write leaves an earlier file as it
// was, a link at path is replaced rather than followed, and a path that is
// a folder, a FIFO or a device (also through a link) is refused. False, with
// the reason in why ("is a FIFO", "could not be written: File too large"),
// when path does not hold the bytes afterwards.
bool replaceFileWith(const std::string& path, std::string_view bytes, std::string& why);

// The same for content made piece by piece, so that it never has to be held
// whole: produce(write) hands every piece to write in order and returns
// false when it could not make them all; write returns false once a write
// has failed. The file takes path's place only when both succeeded.
using PieceWriter = std::function<bool(std::string_view piece)>;
bool replaceFileWithPieces(const std::string& path,
                           const std::function<bool(const PieceWriter&)>& produce,
                           std::string& why);

// Reads the whole of a regular file of at most limit bytes. Anything else is
// refused without waiting on it or reading it: a folder, a FIFO, a device
// (which could be endless), a larger file. False with the reason in why
// ("is a folder", "is larger than 1073741824 bytes").
bool readRegularFile(const std::string& path, std::size_t limit, std::string& text,
                     std::string& why);

// The same file read piece by piece, for a reader that takes the text as it
// comes and need never hold it whole. The same refusals as readRegularFile,
// the size found as the pieces come: once more than limit bytes were read,
// the reading fails as too large.
class RegularFilePieces {
 public:
  RegularFilePieces(const std::string& path, std::size_t limit);
  ~RegularFilePieces();
  RegularFilePieces(const RegularFilePieces&) = delete;
  RegularFilePieces& operator=(const RegularFilePieces&) = delete;

  // The next piece (at most 64 KiB); false at the end of the file or once
  // the reading failed.
  bool next(std::string& piece);
  // Why the file could not be read, or empty.
  const std::string& why() const { return why_; }

 private:
  int fd_ = -1;
  std::size_t limit_ = 0;
  std::size_t have_ = 0;
  std::string why_;
};

// Creates a new file for writing named prefix + a generated part + suffix.
// An existing name is never reused or followed (not even a dangling link
// planted there): each try takes a fresh part from nextName (default: six
// random letters and digits). The mode is 0666 less the umask, as for any
// new file. Returns the descriptor and sets path, or -1 when no name could
// be created.
int createUniqueFile(const std::string& prefix, const std::string& suffix, std::string& path,
                     const TempNameSource& nextName = {});

// One regular file read through units of its own (unit 1), by a thread that
// is not the runtime's: Runtime::readAgain.
class FileSource final : public TextSource {
 public:
  // Null when the name is not a regular file or does not open.
  static std::unique_ptr<TextSource> open(const FileUnits& like, std::string_view fileName);

  bool rewind(int unit) override { return files_.rewind(unit); }
  ReadResult readPiece(int unit, std::string& piece, std::size_t maxChars,
                       bool& lineEnded) override {
    return files_.readPiece(unit, piece, maxChars, lineEnded);
  }

 private:
  explicit FileSource(std::string baseDir) : files_(std::move(baseDir)) {}
  FileUnits files_;
};

}  // namespace tavel::platform
