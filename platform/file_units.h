// Numbered text units backed by files, shared by both runtimes. A unit opened
// with status "unknown" is created when missing and positioned at its start;
// an existing file keeps its content until the first line is written, which
// cuts it there (sequential files). Reads strip the line end (LF, CR LF or a
// lone CR). Only regular files are opened: a pipe, a device or a folder is
// refused without ever waiting on it.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
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
  bool rewind(int unit);
  ReadResult readLine(int unit, std::string& line);
  ReadResult readPiece(int unit, std::string& piece, std::size_t maxChars, bool& lineEnded);
  bool writeLine(int unit, std::string_view line);
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
    bool writeFailed = false;
    bool readOnly = false;
    std::string tempPath;   // replacing: where the lines go
    std::string finalPath;  // replacing: renamed to this on close
    int tempSlot = -1;      // replacing: its entry in the interrupt clean-up list
  };
  bool adopt(int unit, int fd, const char* mode, Unit u);
  void noteFailure(int unit, Unit& u);

  std::string baseDir_;
  std::map<int, Unit> units_;
  std::set<int> failedUnits_;
};

// Makes the generated part of a temporary file's name.
using TempNameSource = std::function<std::string()>;

// Creates a new file for writing named prefix + a generated part + suffix.
// An existing name is never reused or followed (not even a dangling link
// planted there): each try takes a fresh part from nextName (default: six
// random letters and digits). The mode is 0666 less the umask, as for any
// new file. Returns the descriptor and sets path, or -1 when no name could
// be created.
int createUniqueFile(const std::string& prefix, const std::string& suffix, std::string& path,
                     const TempNameSource& nextName = {});

}  // namespace tavel::platform
