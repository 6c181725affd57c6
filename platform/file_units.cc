#include "platform/file_units.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace tavel::platform {
namespace {
constexpr std::size_t kFileBuffer = 1 << 20;

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

FileUnits::~FileUnits() { closeAll(); }

std::string FileUnits::resolve(std::string_view name) const {
  std::string n(name);
  if (baseDir_.empty() || (!n.empty() && n[0] == '/')) return n;
  return baseDir_ + "/" + n;
}

bool FileUnits::open(int unit, std::string_view fileName, bool append) {
  close(unit);
  const std::string path = resolve(fileName);
  if (path.empty() || isDirectory(path)) return false;
  Unit u;
  if (append) {
    u.file = std::fopen(path.c_str(), "a+");
  } else {
    u.file = std::fopen(path.c_str(), "r+");
    if (u.file == nullptr && errno == ENOENT) u.file = std::fopen(path.c_str(), "w+");
    if (u.file == nullptr) {
      // A file we may only read (a data file in a read-only folder).
      u.file = std::fopen(path.c_str(), "r");
      u.readOnly = u.file != nullptr;
    }
    u.truncatePending = !u.readOnly;
  }
  if (u.file == nullptr) return false;
  std::setvbuf(u.file, nullptr, _IOFBF, kFileBuffer);
  units_.emplace(unit, u);
  return true;
}

bool FileUnits::openReplacing(int unit, std::string_view fileName) {
  close(unit);
  Unit u;
  u.finalPath = resolve(fileName);
  if (u.finalPath.empty() || isDirectory(u.finalPath)) return false;
  u.tempPath = u.finalPath + ".part";
  u.file = std::fopen(u.tempPath.c_str(), "w");
  if (u.file == nullptr) return false;
  std::setvbuf(u.file, nullptr, _IOFBF, kFileBuffer);
  units_.emplace(unit, u);
  return true;
}

bool FileUnits::closeChecked(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return true;
  Unit& u = it->second;
  bool ok = !u.writeFailed;
  if (std::fflush(u.file) != 0 || std::ferror(u.file)) ok = false;
  if (std::fclose(u.file) != 0) ok = false;
  std::free(u.lineBuf);
  if (!u.finalPath.empty()) {
    if (ok && std::rename(u.tempPath.c_str(), u.finalPath.c_str()) != 0) ok = false;
    if (!ok) ::unlink(u.tempPath.c_str());
  }
  units_.erase(it);
  return ok;
}

void FileUnits::closeAll() {
  while (!units_.empty()) close(units_.begin()->first);
}

bool FileUnits::rewind(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return false;
  std::clearerr(it->second.file);
  return std::fseek(it->second.file, 0, SEEK_SET) == 0;
}

ReadResult FileUnits::readLine(int unit, std::string& line) {
  auto it = units_.find(unit);
  if (it == units_.end()) return ReadResult::Error;
  Unit& u = it->second;
  errno = 0;
  const ssize_t n = ::getline(&u.lineBuf, &u.lineCap, u.file);
  if (n < 0) {
    if (std::feof(u.file)) return ReadResult::EndOfFile;
    return ReadResult::Error;
  }
  std::size_t len = static_cast<std::size_t>(n);
  if (len > 0 && u.lineBuf[len - 1] == '\n') --len;
  if (len > 0 && u.lineBuf[len - 1] == '\r') --len;
  line.assign(u.lineBuf, len);
  return ReadResult::Success;
}

bool FileUnits::writeLine(int unit, std::string_view line) {
  auto it = units_.find(unit);
  if (it == units_.end()) return false;
  Unit& u = it->second;
  if (u.readOnly) return false;
  if (u.truncatePending) {
    // Sequential output replaces whatever followed the current position.
    u.truncatePending = false;
    std::fflush(u.file);
    const long pos = std::ftell(u.file);
    if (pos < 0 || ::ftruncate(::fileno(u.file), pos) != 0) u.writeFailed = true;
    std::fseek(u.file, pos < 0 ? 0 : pos, SEEK_SET);
  }
  if (std::fwrite(line.data(), 1, line.size(), u.file) != line.size() ||
      std::fputc('\n', u.file) == EOF) {
    u.writeFailed = true;
  }
  return !u.writeFailed;
}

bool FileUnits::flush(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return false;
  if (std::fflush(it->second.file) != 0) it->second.writeFailed = true;
  return !it->second.writeFailed;
}

void FileUnits::deleteFiles(std::string_view pattern) const {
  std::error_code ec;
  const std::filesystem::path dir(baseDir_.empty() ? std::string(".") : baseDir_);
  const std::string pat(pattern);
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (::fnmatch(pat.c_str(), name.c_str(), FNM_PERIOD) == 0 && entry.is_regular_file(ec)) {
      std::filesystem::remove(entry.path(), ec);
    }
  }
}

}  // namespace tavel::platform
