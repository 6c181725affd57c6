// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file_units.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
// What one read of a data file takes: the file's whole buffer, so the
// bytes come straight from the file rather than through that buffer.
constexpr std::size_t kReadBlock = kFileBuffer;

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

std::string kindText(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return "a regular file";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "not a regular file";
}

std::string errorText(int error) { return std::strerror(error); }

// A file being written under a temporary name beside the one it replaces.
// A terminating signal removes it; finishReplacement renames it into place
// or removes it.
struct Replacement {
  int fd = -1;
  std::string tempPath;
  int slot = -1;
};

bool beginReplacement(const std::string& finalPath, Replacement& r) {
  r.fd = createUniqueFile(finalPath + ".", ".part", r.tempPath);
  if (r.fd < 0) return false;
  r.slot = removeOnTermination(r.tempPath, CleanupKind::File);
  return true;
}

// Returns whether finalPath now names the new file; the descriptor is the
// caller's to close.
bool finishReplacement(bool ok, Replacement& r, const std::string& finalPath) {
  if (ok && std::rename(r.tempPath.c_str(), finalPath.c_str()) != 0) ok = false;
  const int error = errno;
  if (!ok) ::unlink(r.tempPath.c_str());
  forgetOnTermination(r.slot);
  r.slot = -1;
  errno = error;
  return ok;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

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

std::string describePath(const std::string& path) {
  struct stat st {};
  if (!path.empty() && ::stat(path.c_str(), &st) == 0) return kindText(st);
  if (!path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    return "a link to nowhere";
  return "missing";
}

namespace {

// A name as an absolute path through the real folders; the last part is
// kept as it is, a link or not.
std::string entryOf(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path p = fs::absolute(path, ec);
  if (ec) return path;
  fs::path parent = fs::weakly_canonical(p.parent_path(), ec);
  if (ec) parent = p.parent_path();
  return (parent / p.filename()).lexically_normal().string();
}

}  // namespace

bool wouldReplace(const std::string& output, const std::string& other) {
  if (output.empty() || other.empty()) return false;
  if (entryOf(output) == entryOf(other)) return true;
  struct stat out {};
  struct stat in {};
  if (::lstat(output.c_str(), &out) != 0 || ::stat(other.c_str(), &in) != 0) return false;
  return out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

bool replaceFileWith(const std::string& path, std::string_view bytes, std::string& why) {
  return replaceFileWithPieces(
      path, [bytes](const PieceWriter& write) { return write(bytes); }, why);
}

bool replaceFileWithPieces(const std::string& path,
                           const std::function<bool(const PieceWriter&)>& produce,
                           std::string& why) {
  struct stat st {};
  if (path.empty()) {
    why = "has no name";
    return false;
  }
  if (::stat(path.c_str(), &st) == 0 && !isRegular(st)) {
    why = "is " + kindText(st) + ", not a regular file";
    return false;
  }
  Replacement r;
  if (!beginReplacement(path, r)) {
    why = "could not be written: " + errorText(errno);
    return false;
  }
  int error = 0;
  bool wrote = true;
  const PieceWriter write = [&](std::string_view piece) {
    wrote = wrote && writeAll(r.fd, piece.data(), piece.size());
    if (!wrote && error == 0) error = errno;
    return wrote;
  };
  bool ok = false;
  try {
    ok = produce(write) && wrote;
  } catch (...) {
    // Out of memory half way: the temporary file goes, an earlier one stays.
    ::close(r.fd);
    finishReplacement(false, r, path);
    throw;
  }
  if (!ok && error == 0) error = EIO;
  if (::close(r.fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!finishReplacement(ok, r, path)) {
    why = "could not be written: " + errorText(ok ? errno : error);
    return false;
  }
  return true;
}

bool readRegularFile(const std::string& path, std::size_t limit, std::string& text,
                     std::string& why) {
  text.clear();
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    why = "cannot be read: " + errorText(path.empty() ? ENOENT : errno);
    return false;
  }
  if (!isRegular(st)) {
    why = "is " + kindText(st) + ", not a regular file";
    return false;
  }
  const std::string tooLarge = "is larger than " + std::to_string(limit) + " bytes";
  if (static_cast<unsigned long long>(st.st_size) > limit) {
    why = tooLarge;
    return false;
  }
  const int fd = openRegular(path, O_RDONLY);
  if (fd < 0) {
    why = errno == EINVAL ? "is not a regular file" : "cannot be read: " + errorText(errno);
    return false;
  }
  // The size may change while it is read: no more than limit + 1 bytes are
  // ever taken, whatever it grows to.
  text.resize(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), limit) + 1);
  std::size_t have = 0;
  bool ok = true;
  for (;;) {
    if (have == text.size()) {
      if (text.size() > limit) break;
      text.resize(std::min(limit + 1, text.size() * 2));
    }
    const ssize_t got = ::read(fd, text.data() + have, text.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      why = "cannot be read: " + errorText(errno);
      ok = false;
      break;
    }
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (ok && have > limit) {
    why = tooLarge;
    ok = false;
  }
  text.resize(ok ? have : 0);
  return ok;
}

RegularFilePieces::RegularFilePieces(const std::string& path, std::size_t limit) : limit_(limit) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    why_ = "cannot be read: " + errorText(path.empty() ? ENOENT : errno);
    return;
  }
  if (!isRegular(st)) {
    why_ = "is " + kindText(st) + ", not a regular file";
    return;
  }
  if (static_cast<unsigned long long>(st.st_size) > limit) {
    why_ = "is larger than " + std::to_string(limit) + " bytes";
    return;
  }
  fd_ = openRegular(path, O_RDONLY);
  if (fd_ < 0)
    why_ = errno == EINVAL ? "is not a regular file" : "cannot be read: " + errorText(errno);
}

RegularFilePieces::~RegularFilePieces() {
  if (fd_ >= 0) ::close(fd_);
}

bool RegularFilePieces::next(std::string& piece) {
  piece.clear();
  if (fd_ < 0 || !why_.empty()) return false;
  piece.resize(std::size_t{1} << 16);
  for (;;) {
    const ssize_t got = ::read(fd_, piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) why_ = "cannot be read: " + errorText(errno);
    if (got > 0) have_ += static_cast<std::size_t>(got);
    // The file may have grown since it was measured.
    if (have_ > limit_) why_ = "is larger than " + std::to_string(limit_) + " bytes";
    if (got <= 0 || !why_.empty()) {
      piece.clear();
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    piece.resize(static_cast<std::size_t>(got));
    return true;
  }
}

FileUnits::~FileUnits() {
  abandonReplacing();
  closeAll();
}

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
    // The run's own file by now; a link planted at its name since is not
    // followed.
    const int fd = openRegular(path, O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW);
    return fd >= 0 && adopt(unit, fd, "a+", std::move(u));
  }
  // A missing file is made at once, as status "unknown" asks.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) return adopt(unit, fd, "r+", std::move(u));
  if (errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && isRegular(st)) {
    // A file that cannot be written is refused here rather than losing every
    // line later (data files, which are only read, have openForReading).
    if (::access(path.c_str(), W_OK) != 0) return false;
    fd = openRegular(path, O_RDWR | O_NOFOLLOW);
    if (fd < 0) return false;
    // The only name of its file is cut where it is; a file with other
    // names (a hard link to the data, say) keeps its content under them.
    if (::fstat(fd, &st) == 0 && st.st_nlink <= 1) {
      u.truncatePending = true;
      return adopt(unit, fd, "r+", std::move(u));
    }
  } else {
    // A link: it can be read through, but the first write replaces it.
    fd = openRegular(path, O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
      // A link to nowhere holds nothing to keep: a new file takes its name now.
      Replacement r;
      if (!beginReplacement(path, r)) return false;
      if (!finishReplacement(true, r, path)) {
        ::close(r.fd);
        return false;
      }
      return adopt(unit, r.fd, "w", std::move(u));
    }
    if (fd < 0) return false;
  }
  u.replacePending = true;
  u.namePath = path;
  return adopt(unit, fd, "r", std::move(u));
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
  Replacement r;
  if (!beginReplacement(u.finalPath, r)) return false;
  u.tempPath = r.tempPath;
  u.tempSlot = r.slot;
  if (!adopt(unit, r.fd, "w", std::move(u))) {
    finishReplacement(false, r, {});
    return false;
  }
  return true;
}

// The first line written to a unit whose name has other meanings (a link,
// another name of the file): what precedes the current position is copied
// into a new file, which then takes the name.
bool FileUnits::replaceAtPosition(Unit& u) {
  std::fflush(u.file);
  const long pos = std::ftell(u.file);
  Replacement r;
  if (pos < 0 || !beginReplacement(u.namePath, r)) return false;
  bool ok = std::fseek(u.file, 0, SEEK_SET) == 0;
  char block[1 << 16];
  for (long left = pos; ok && left > 0;) {
    const std::size_t want = static_cast<std::size_t>(std::min<long>(left, sizeof block));
    const std::size_t got = std::fread(block, 1, want, u.file);
    ok = got == want && writeAll(r.fd, block, got);
    left -= static_cast<long>(got);
  }
  std::FILE* replacement = ok ? ::fdopen(r.fd, "w") : nullptr;
  if (replacement == nullptr) ::close(r.fd);
  if (!finishReplacement(replacement != nullptr, r, u.namePath)) {
    if (replacement != nullptr) std::fclose(replacement);
    return false;
  }
  std::fclose(u.file);
  u.file = replacement;
  std::setvbuf(u.file, nullptr, _IOFBF, kFileBuffer);
  std::fseek(u.file, 0, SEEK_END);
  return true;
}

void FileUnits::discard(Unit& u) {
  std::fclose(u.file);
  ::unlink(u.tempPath.c_str());
  forgetOnTermination(u.tempSlot);
}

void FileUnits::abandonReplacing() {
  for (auto it = units_.begin(); it != units_.end();) {
    if (it->second.finalPath.empty()) {
      ++it;
      continue;
    }
    discard(it->second);
    it = units_.erase(it);
  }
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
    Replacement r{.fd = -1, .tempPath = u.tempPath, .slot = u.tempSlot};
    ok = finishReplacement(ok, r, u.finalPath);
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
  it->second.in.clear();
  it->second.inAt = 0;
  std::clearerr(it->second.file);
  return std::fseek(it->second.file, 0, SEEK_SET) == 0;
}

bool FileUnits::fillInput(Unit& u) {
  if (u.inAt < u.in.size()) return true;
  u.in.resize(kReadBlock);
  const std::size_t got = std::fread(u.in.data(), 1, u.in.size(), u.file);
  u.in.resize(got);
  u.inAt = 0;
  return got > 0;
}

void FileUnits::dropInput(Unit& u) {
  const std::size_t ahead = u.in.size() - u.inAt;
  u.in.clear();
  u.inAt = 0;
  if (ahead > 0) std::fseek(u.file, -static_cast<long>(ahead), SEEK_CUR);
}

ReadResult FileUnits::readPiece(int unit, std::string& piece, std::size_t maxChars,
                                bool& lineEnded) {
  piece.clear();
  lineEnded = false;
  auto it = units_.find(unit);
  if (it == units_.end()) return ReadResult::Error;
  Unit& u = it->second;
  if (maxChars == 0) maxChars = 1;
  if (!fillInput(u)) return std::ferror(u.file) ? ReadResult::Error : ReadResult::EndOfFile;
  while (true) {
    // The bytes up to a line end, or up to the piece's limit.
    const char* begin = u.in.data() + u.inAt;
    const std::size_t room = std::min(u.in.size() - u.inAt, maxChars - piece.size());
    const char* stop =
        std::find_if(begin, begin + room, [](char c) { return c == '\n' || c == '\r'; });
    piece.append(begin, stop);
    u.inAt += static_cast<std::size_t>(stop - begin);
    // A piece that is full still takes the line end that follows it, and
    // ends the line when the file ends there.
    if (!fillInput(u)) {
      lineEnded = true;
      return std::ferror(u.file) ? ReadResult::Error : ReadResult::Success;
    }
    const char c = u.in[u.inAt];
    if (c == '\n' || c == '\r') {
      ++u.inAt;
      // CR LF, or a lone CR of old Mac files.
      if (c == '\r' && fillInput(u) && u.in[u.inAt] == '\n') ++u.inAt;
      lineEnded = true;
      return std::ferror(u.file) ? ReadResult::Error : ReadResult::Success;
    }
    if (piece.size() >= maxChars) return ReadResult::Success;
  }
}

ReadResult FileUnits::readLine(int unit, std::string& line) {
  line.clear();
  std::string piece;
  bool ended = false;
  ReadResult r = readPiece(unit, line, kLinePiece, ended);
  while (r == ReadResult::Success && !ended) {
    r = readPiece(unit, piece, kLinePiece, ended);
    line += piece;
  }
  return r;
}

FileUnits::Unit* FileUnits::unitForWriting(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return nullptr;
  Unit& u = it->second;
  if (u.readOnly) return nullptr;
  dropInput(u);
  if (u.replacePending) {
    u.replacePending = false;
    if (!replaceAtPosition(u)) {
      noteFailure(unit, u);
      return nullptr;
    }
  }
  if (u.truncatePending) {
    // Sequential output replaces whatever followed the current position.
    u.truncatePending = false;
    std::fflush(u.file);
    const long pos = std::ftell(u.file);
    if (pos < 0 || ::ftruncate(::fileno(u.file), pos) != 0) noteFailure(unit, u);
    std::fseek(u.file, pos < 0 ? 0 : pos, SEEK_SET);
  }
  return &u;
}

// A unit's stream belongs to the one thread of the command writing it, so
// the stream's own lock is left out of the per-line calls.
bool FileUnits::writeLine(int unit, std::string_view line) {
  Unit* u = unitForWriting(unit);
  if (u == nullptr) return false;
  if (fwrite_unlocked(line.data(), 1, line.size(), u->file) != line.size() ||
      fputc_unlocked('\n', u->file) == EOF) {
    noteFailure(unit, *u);
  }
  return !u->writeFailed;
}

bool FileUnits::writeLines(int unit, std::string_view lines) {
  if (lines.empty()) {
    const auto it = units_.find(unit);
    return it != units_.end() && !it->second.readOnly && !it->second.writeFailed;
  }
  Unit* u = unitForWriting(unit);
  if (u == nullptr) return false;
  if (fwrite_unlocked(lines.data(), 1, lines.size(), u->file) != lines.size() ||
      (lines.back() != '\n' && fputc_unlocked('\n', u->file) == EOF)) {
    noteFailure(unit, *u);
  }
  return !u->writeFailed;
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

std::unique_ptr<TextSource> FileSource::open(const FileUnits& like, std::string_view fileName) {
  // Only an existing regular file: opening for reading creates a missing one.
  if (like.kind(fileName) != PathKind::RegularFile) return nullptr;
  std::unique_ptr<FileSource> source(new FileSource(like.baseDir()));
  if (!source->files_.openForReading(1, fileName)) return nullptr;
  return source;
}

}  // namespace tavel::platform
