#include "platform/file_units.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/termination_cleanup.h"

namespace tavel::platform {
namespace {

constexpr std::size_t kFileBuffer = 1 << 20;
constexpr std::size_t kLinePiece = 1 << 16;

std::string randomNamePart() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // No entropy source: the clock and a counter still give fresh names, and
    // the exclusive creation makes a collision cost only another try.
    static std::atomic<unsigned> counter{0};
    unsigned long v = static_cast<unsigned long>(std::time(nullptr)) * 2654435761u +
                      static_cast<unsigned long>(::getpid()) * 40503u + counter++;
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(v);
      v = v / 251 + 7919;
    }
  }
  std::string part;
  for (unsigned char b : bytes) part += kAlphabet[b % (sizeof kAlphabet - 1)];
  return part;
}

bool isRegular(const struct stat& st) { return S_ISREG(st.st_mode); }

PathKind kindOfPath(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  return isRegular(st) ? PathKind::RegularFile : PathKind::Other;
}

// Opens path without ever waiting on a pipe or a device, and keeps the
// descriptor only for a regular file. The name is looked at first so that
// a device is not even opened.
int openRegular(const std::string& path, int flags) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !isRegular(st)) {
    errno = EINVAL;
    return -1;
  }
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !isRegular(st)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

int createUniqueFile(const std::string& prefix, const std::string& suffix, std::string& path,
                     const TempNameSource& nextName) {
  constexpr int kTries = 100;
  for (int i = 0; i < kTries; ++i) {
    const std::string candidate = prefix + (nextName ? nextName() : randomNamePart()) + suffix;
    const int fd =
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      path = candidate;
      return fd;
    }
    if (errno != EEXIST && errno != ELOOP) break;
  }
  path.clear();
  return -1;
}

FileUnits::~FileUnits() { closeAll(); }

std::string FileUnits::resolve(std::string_view name) const {
  std::string n(name);
  if (baseDir_.empty() || (!n.empty() && n[0] == '/')) return n;
  return baseDir_ + "/" + n;
}

PathKind FileUnits::kind(std::string_view name) const { return kindOfPath(resolve(name)); }

bool FileUnits::adopt(int unit, int fd, const char* mode, Unit u) {
  u.file = ::fdopen(fd, mode);
  if (u.file == nullptr) {
    ::close(fd);
    return false;
  }
  std::setvbuf(u.file, nullptr, _IOFBF, kFileBuffer);
  units_.emplace(unit, std::move(u));
  return true;
}

bool FileUnits::open(int unit, std::string_view fileName, bool append) {
  close(unit);
  const std::string path = resolve(fileName);
  if (path.empty()) return false;
  Unit u;
  if (append) {
    const int fd = openRegular(path, O_RDWR | O_CREAT | O_APPEND);
    return fd >= 0 && adopt(unit, fd, "a+", std::move(u));
  }
  // A file that cannot be written is refused here rather than losing every
  // line later (data files, which are only read, have openForReading).
  const int fd = openRegular(path, O_RDWR | O_CREAT);
  if (fd < 0) return false;
  u.truncatePending = true;
  return adopt(unit, fd, "r+", std::move(u));
}

bool FileUnits::openForReading(int unit, std::string_view fileName) {
  close(unit);
  const std::string path = resolve(fileName);
  if (path.empty()) return false;
  int fd = openRegular(path, O_RDONLY);
  if (fd < 0 && errno == ENOENT) {
    const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (created >= 0) ::close(created);
    fd = openRegular(path, O_RDONLY);
  }
  if (fd < 0) return false;
  Unit u;
  u.readOnly = true;
  return adopt(unit, fd, "r", std::move(u));
}

bool FileUnits::openReplacing(int unit, std::string_view fileName) {
  close(unit);
  Unit u;
  u.finalPath = resolve(fileName);
  if (u.finalPath.empty() || kindOfPath(u.finalPath) == PathKind::Other) return false;
  const int fd = createUniqueFile(u.finalPath + ".", ".part", u.tempPath);
  if (fd < 0) return false;
  u.tempSlot = removeOnTermination(u.tempPath, CleanupKind::File);
  const std::string tempPath = u.tempPath;
  const int slot = u.tempSlot;
  if (!adopt(unit, fd, "w", std::move(u))) {
    ::unlink(tempPath.c_str());
    forgetOnTermination(slot);
    return false;
  }
  return true;
}

void FileUnits::noteFailure(int unit, Unit& u) {
  u.writeFailed = true;
  failedUnits_.insert(unit);
}

bool FileUnits::closeChecked(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return true;
  Unit& u = it->second;
  bool ok = !u.writeFailed;
  if (std::fflush(u.file) != 0 || std::ferror(u.file)) ok = false;
  if (std::fclose(u.file) != 0) ok = false;
  if (!u.finalPath.empty()) {
    if (ok && std::rename(u.tempPath.c_str(), u.finalPath.c_str()) != 0) ok = false;
    if (!ok) ::unlink(u.tempPath.c_str());
    forgetOnTermination(u.tempSlot);
  }
  if (!ok && !u.readOnly) failedUnits_.insert(unit);
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

ReadResult FileUnits::readPiece(int unit, std::string& piece, std::size_t maxChars,
                                bool& lineEnded) {
  piece.clear();
  lineEnded = false;
  auto it = units_.find(unit);
  if (it == units_.end()) return ReadResult::Error;
  std::FILE* f = it->second.file;
  if (maxChars == 0) maxChars = 1;
  int c = getc_unlocked(f);
  if (c == EOF) return std::ferror(f) ? ReadResult::Error : ReadResult::EndOfFile;
  // Characters gather in a small buffer and join the piece in blocks.
  char block[4096];
  std::size_t inBlock = 0;
  std::size_t taken = 0;
  auto finish = [&](ReadResult r) {
    piece.append(block, inBlock);
    return std::ferror(f) ? ReadResult::Error : r;
  };
  while (true) {
    if (c == '\n') {
      lineEnded = true;
      return finish(ReadResult::Success);
    }
    if (c == '\r') {  // CR LF, or a lone CR of old Mac files
      const int next = getc_unlocked(f);
      if (next != '\n' && next != EOF) std::ungetc(next, f);
      lineEnded = true;
      return finish(ReadResult::Success);
    }
    if (inBlock == sizeof block) {
      piece.append(block, inBlock);
      inBlock = 0;
    }
    block[inBlock++] = static_cast<char>(c);
    ++taken;
    c = getc_unlocked(f);
    if (c == EOF) {
      lineEnded = true;
      return finish(ReadResult::Success);
    }
    if (taken >= maxChars && c != '\n' && c != '\r') {
      std::ungetc(c, f);
      return finish(ReadResult::Success);
    }
  }
}

ReadResult FileUnits::readLine(int unit, std::string& line) {
  line.clear();
  std::string piece;
  bool ended = false;
  ReadResult r = readPiece(unit, piece, kLinePiece, ended);
  line = piece;
  while (r == ReadResult::Success && !ended) {
    r = readPiece(unit, piece, kLinePiece, ended);
    line += piece;
  }
  return r;
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
    if (pos < 0 || ::ftruncate(::fileno(u.file), pos) != 0) noteFailure(unit, u);
    std::fseek(u.file, pos < 0 ? 0 : pos, SEEK_SET);
  }
  if (std::fwrite(line.data(), 1, line.size(), u.file) != line.size() ||
      std::fputc('\n', u.file) == EOF) {
    noteFailure(unit, u);
  }
  return !u.writeFailed;
}

bool FileUnits::flush(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return false;
  if (std::fflush(it->second.file) != 0 && !it->second.readOnly) noteFailure(unit, it->second);
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
