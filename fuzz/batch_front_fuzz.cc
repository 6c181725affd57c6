// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch's front end on an arbitrary command line and data file, in
// process. The first byte gives the number of options, each option takes two
// bytes (which option, which value), one more byte chooses between the file
// and standard input, and the rest is the data file. Property: whenever the
// program exits 0, the Run analysed exactly the dependent and independents
// that were asked for (or the defaults: the last file column, and every other
// file column), with the flags asked for.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch_front.h"
#include "fuzz/fuzz_check.h"

namespace {

const std::string& workDir() {
  static const std::string dir = [] {
    const char* shm = "/dev/shm";
    std::string pattern =
        std::string(std::filesystem::is_directory(shm) ? shm : "/tmp") + "/tavel-fuzz-batch-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return dir;
}

// The header's names split simply (blanks, tabs, "~"), so that options can
// name real columns; the program's own reading may differ at the edges.
std::vector<std::string> headerWords(const std::string& file) {
  std::vector<std::string> words;
  std::string word;
  for (char c : file.substr(0, file.find('\n'))) {
    if (c == ' ' || c == '\t' || c == '~' || c == '\r') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

std::string trimmed(const std::string& name) {
  const auto last = name.find_last_not_of(' ');
  return last == std::string::npos ? std::string() : name.substr(0, last + 1);
}

std::string nameOf(const tavel::app::DataTable& t, int v) {
  if (v < 1 || v > static_cast<int>(t.colName.size())) return "?";
  return trimmed(t.colName[static_cast<std::size_t>(v - 1)]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int optionCount = data[0] % 8;
  std::size_t at = 1;
  if (size < at + 2 * static_cast<std::size_t>(optionCount) + 1) return 0;
  const std::uint8_t* ops = data + at;
  at += 2 * static_cast<std::size_t>(optionCount);
  const bool fromStdin = data[at++] & 1;
  const std::string file(reinterpret_cast<const char*>(data + at), size - at);
  const std::vector<std::string> words = headerWords(file);

  // The command line, and what it asks for.
  std::vector<std::string> args;
  std::optional<std::string> dep;
  std::vector<std::string> indep;
  std::vector<std::pair<std::string, int>> flags;
  auto name = [&](std::uint8_t b) -> std::string {
    if (words.empty() || (b & 0x80)) return "NOPE";
    const std::string& w = words[b % words.size()];
    return (b & 0x40) ? "_ln_" + w : w;
  };
  static const char* const kNumbers[] = {"1", "2", "10", "0", "-1", "2.5", "abc", ""};
  static const char* const kReals[] = {"1e-4", "0", "-1", "nan", "1,5", "0.5", "1e308", "+5e-3"};
  for (int k = 0; k < optionCount; ++k) {
    const std::uint8_t which = ops[2 * k], value = ops[2 * k + 1];
    switch (which % 8) {
      case 0:
        args.insert(args.end(), {"--dep", name(value)});
        if (!dep) dep = args.back();
        break;
      case 1:
        args.insert(args.end(), {"--indep", name(value)});
        indep.push_back(args.back());
        break;
      case 2: {
        const int code = 1 + (which >> 3) % 5;
        args.insert(args.end(), {"--flag", name(value) + "=" + std::to_string(code)});
        flags.emplace_back(name(value), code);
        break;
      }
      case 3:
        args.insert(args.end(), {"--numterm", kNumbers[value % 8]});
        break;
      case 4:
        args.insert(args.end(), {"--delrsq", kReals[value % 8]});
        break;
      case 5:
        args.push_back("--equilibration");
        break;
      case 6:
        args.push_back("--captures");  // no canvas saves pictures here: never exit 0
        break;
      default:
        args.push_back(name(value));  // a stray argument: a second data file
        break;
    }
  }

  const std::string dataPath = workDir() + "/in.dat";
  int fds[2] = {-1, -1};
  if (fromStdin) {
    // The fuzzer's inputs fit a pipe's buffer, so this does not block.
    if (::pipe(fds) != 0) std::abort();
    if (!file.empty() && ::write(fds[1], file.data(), file.size()) < 0) std::abort();
    ::close(fds[1]);
    args.push_back("-");
  } else {
    std::FILE* f = std::fopen(dataPath.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (!file.empty() && std::fwrite(file.data(), 1, file.size(), f) != file.size()) std::abort();
    std::fclose(f);
    args.push_back(dataPath);
  }
  args.insert(args.begin(), {"--outdir", workDir() + "/out"});

  tavel::batch::BatchIo io;
  io.inputFd = fromStdin ? fds[0] : 0;
  tavel::app::AppState state;
  const int status = tavel::batch::runBatch(args, io, state);
  if (fromStdin) ::close(fds[0]);
  FUZZ_CHECK(status >= 0 && status <= 2, "exit status %d", status);
  // --help and --version end with 0 before any command.
  if (status != 0 || state.data.dataFileName.empty()) return 0;

  // Exit 0: the analysis is the one asked for.
  const tavel::app::DataTable& t = state.data;
  const tavel::app::VarSelection& sel = state.selection;
  const std::string wantDep = dep ? *dep : nameOf(t, t.numCol1);
  std::vector<std::string> wantIndep = indep;
  if (wantIndep.empty())
    for (int v = 1; v <= t.numCol1; ++v)
      if (nameOf(t, v) != wantDep) wantIndep.push_back(nameOf(t, v));
  FUZZ_CHECK(nameOf(t, sel.dep) == wantDep, "dependent '%s', asked for '%s'",
             nameOf(t, sel.dep).c_str(), wantDep.c_str());
  std::vector<std::string> got;
  for (int j = 0; j < sel.p; ++j) got.push_back(nameOf(t, sel.indep[static_cast<std::size_t>(j)]));
  std::sort(got.begin(), got.end());
  std::sort(wantIndep.begin(), wantIndep.end());
  FUZZ_CHECK(got == wantIndep, "%d independents analysed, %d asked for", sel.p,
             static_cast<int>(wantIndep.size()));
  for (const auto& [flagName, code] : flags) {
    int last = code;
    for (const auto& [n, c] : flags)
      if (n == flagName) last = c;
    int position = -1;
    if (nameOf(t, sel.dep) == flagName) position = sel.p;
    for (int j = 0; j < sel.p; ++j)
      if (nameOf(t, sel.indep[static_cast<std::size_t>(j)]) == flagName) position = j;
    FUZZ_CHECK(position >= 0 && tavel::model::engineCode(
                                    state.options.l[static_cast<std::size_t>(position)]) == last,
               "the flag of '%s' is not %d", flagName.c_str(), last);
  }
  return 0;
}
