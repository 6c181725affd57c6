// Numbered text units backed by files, shared by both runtimes. A unit opened
// with status "unknown" is created when missing and positioned at its start;
// an existing file keeps its content until the first line is written, which
// cuts it there (sequential files). Reads strip the line end (LF or CRLF).
#pragma once

#include <cstdio>
#include <map>
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

  bool open(int unit, std::string_view fileName, bool append);
  bool openReplacing(int unit, std::string_view fileName);
  bool isOpen(int unit) const { return units_.count(unit) != 0; }
  void close(int unit) { closeChecked(unit); }
  bool closeChecked(int unit);
  void closeAll();
  bool rewind(int unit);
  ReadResult readLine(int unit, std::string& line);
  bool writeLine(int unit, std::string_view line);
  bool flush(int unit);
  // Deletes every regular file of the base folder whose name matches the
  // wildcard pattern (* and ?). Failures are ignored.
  void deleteFiles(std::string_view pattern) const;

 private:
  struct Unit {
    std::FILE* file = nullptr;
    bool truncatePending = false;  // cut the file at the first write
    bool writeFailed = false;
    bool readOnly = false;
    std::string tempPath;   // replacing: where the lines go
    std::string finalPath;  // replacing: renamed to this on close
    char* lineBuf = nullptr;
    std::size_t lineCap = 0;
  };
  std::string baseDir_;
  std::map<int, Unit> units_;
};

}  // namespace tavel::platform
