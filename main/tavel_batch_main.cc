// SPDX-License-Identifier: GPL-3.0-or-later
// tavel-batch: the commands a user gives in the GUI (Input Dat File,
// Prepare, Options, Run), performed without a display through the analysis
// session. The lines of the main output window go to standard output; the
// log, spreadsheets and pictures are the files the GUI writes for the same
// choices. Everything but the pictures' canvas lives in batch/, which knows
// nothing of Qt.
#include <unistd.h>

#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/records.h"
#include "batch/batch_front.h"
#include "main/runtime_folder.h"
#include "platform/qt/qimage_canvas.h"

namespace {

void write(std::FILE* to, std::string_view text) { std::fwrite(text.data(), 1, text.size(), to); }

}  // namespace

int main(int argc, char** argv) {
  // Pictures are drawn on a QImage, which needs the GUI library but never a
  // display: an exported platform such as xcb (ssh, cron) must not apply.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const auto runtimeFolder = tavel::mainprog::provideRuntimeFolder();
  // A file-size limit (ulimit -f) must fail the write that crosses it, which
  // the program reports as a file not written, rather than kill the process.
  std::signal(SIGXFSZ, SIG_IGN);

  // Qt starts with the first picture, so refusals and usage errors stay
  // quick; it never sees our arguments.
  int qtArgc = 1;
  char qtName[] = "tavel-batch";
  char* qtArgv[] = {qtName, nullptr};
  std::unique_ptr<QGuiApplication> qapp;

  tavel::batch::BatchIo io;
  io.out = [](std::string_view text) { write(stdout, text); };
  io.err = [](std::string_view text) {
    std::fflush(stdout);
    write(stderr, text);
  };
  // The progress line is for a person watching: a pipe or file sees none.
  if (::isatty(STDERR_FILENO) == 1)
    io.progress = [](std::string_view text) {
      write(stderr, text);
      std::fflush(stderr);
    };
  io.canvas = [&]() -> std::unique_ptr<tavel::platform::Canvas> {
    if (!qapp) qapp = std::make_unique<QGuiApplication>(qtArgc, qtArgv);
    return std::make_unique<tavel::platform::qt::QImageCanvas>();
  };
  tavel::app::AppState state;
  const int status =
      tavel::batch::runBatch(std::vector<std::string>(argv + 1, argv + argc), io, state);
  // The report on standard output is an output asked for like the files.
  if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && status == tavel::batch::kExitDone) {
    write(stderr, "tavel-batch: standard output could not be written\n");
    return tavel::batch::kExitFailed;
  }
  return status;
}
