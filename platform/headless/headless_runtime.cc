// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/headless/headless_runtime.h"

#include <algorithm>

#include "platform/headless/blank_canvas.h"

namespace tavel::platform::headless {

HeadlessRuntime::HeadlessRuntime(std::string baseDir, CanvasFactory factory)
    : files_(std::move(baseDir)), factory_(std::move(factory)) {
  if (!factory_) factory_ = [] { return std::make_unique<BlankCanvas>(); };
  geometry_[kFrameUnit] = Geometry{0, 0, 1024, 768};
  geometry_[kScreenUnit] = Geometry{0, 0, 640, 480};
}

HeadlessRuntime::~HeadlessRuntime() = default;

bool HeadlessRuntime::appendMenu(int menu, bool enabled, std::string_view text,
                                 MenuCallback callback, BuiltinAction action) {
  ++appendCalls_;
  if (appendCalls_ == failAppendAt_) return false;
  if (menu < 1 || menu > menuCount_ + 1) return false;
  if (menu == menuCount_ + 1) ++menuCount_;
  menus_.push_back(MenuEntry{menu, enabled, std::string(text), std::move(callback), action});
  return true;
}

void HeadlessRuntime::stop(std::string_view message) {
  stopMessage_ = std::string(message);
  files_.closeAll();
  windows_.clear();
}

bool HeadlessRuntime::getGeometry(int unit, Geometry& geometry) {
  auto it = geometry_.find(unit);
  if (it == geometry_.end()) return false;
  geometry = it->second;
  return true;
}

bool HeadlessRuntime::applyGeometry(int unit, const Geometry& geometry, GeometryRequest request) {
  if (unit != kFrameUnit && unit != kScreenUnit && canvasOf(unit) == nullptr) return false;
  Geometry g = geometry;
  if (request == GeometryRequest::Maximise && unit != kFrameUnit) {
    const Geometry frame = geometry_[kFrameUnit];
    g = Geometry{0, 0, frame.width, frame.height};
  }
  geometry_[unit] = g;
  return true;
}

bool HeadlessRuntime::openFileDialog(std::string_view title, const std::vector<FileFilter>&,
                                     std::string& name) {
  fileDialogTitles_.emplace_back(title);
  lastOfferedName_ = name;
  if (fileChoices_.empty()) return false;
  std::optional<std::string> choice = std::move(fileChoices_.front());
  fileChoices_.pop_front();
  if (!choice) return false;
  name = *choice;
  return true;
}

void HeadlessRuntime::addDialogResource(const DialogResource& resource) {
  resources_[resource.id] = resource;
}

std::unique_ptr<Dialog> HeadlessRuntime::initDialog(int resourceId) {
  if (std::find(hidden_.begin(), hidden_.end(), resourceId) != hidden_.end()) return nullptr;
  auto it = resources_.find(resourceId);
  if (it == resources_.end()) return nullptr;
  DialogScript script;
  auto s = scripts_.find(resourceId);
  if (s != scripts_.end() && !s->second.empty()) {
    script = std::move(s->second.front());
    s->second.pop_front();
  }
  return std::make_unique<ScriptedDialog>(it->second, std::move(script));
}

void HeadlessRuntime::queueDialogScript(int resourceId, DialogScript script) {
  scripts_[resourceId].push_back(std::move(script));
}

bool HeadlessRuntime::openFile(int unit, std::string_view fileName, bool append) {
  if (unit == kScreenUnit) return false;
  close(unit);
  return files_.open(unit, fileName, append);
}

bool HeadlessRuntime::openFileForReading(int unit, std::string_view fileName) {
  if (unit == kScreenUnit) return false;
  close(unit);
  return files_.openForReading(unit, fileName);
}

bool HeadlessRuntime::openFileReplacing(int unit, std::string_view fileName) {
  if (unit == kScreenUnit) return false;
  close(unit);
  return files_.openReplacing(unit, fileName);
}

bool HeadlessRuntime::openGraphics(int unit, std::string_view title) {
  if (unit == kScreenUnit) return false;
  close(unit);
  windows_.push_back(GraphicsWindow{unit, std::string(title), factory_()});
  geometry_[unit] = Geometry{0, 0, 800, 600};
  return true;
}

void HeadlessRuntime::close(int unit) { closeChecked(unit); }

bool HeadlessRuntime::closeChecked(int unit) {
  auto it = std::find_if(windows_.begin(), windows_.end(),
                         [unit](const GraphicsWindow& w) { return w.unit == unit; });
  if (it != windows_.end()) {
    windows_.erase(it);
    geometry_.erase(unit);
    return true;
  }
  return files_.closeChecked(unit);
}

bool HeadlessRuntime::isOpen(int unit) {
  if (unit == kScreenUnit) return true;
  return canvasOf(unit) != nullptr || files_.isOpen(unit);
}

bool HeadlessRuntime::writeLine(int unit, std::string_view line) {
  if (unit == kScreenUnit) {
    screen_.emplace_back(line);
    history_.emplace_back(line);
    if (screenSink_) screenSink_(line);
    return true;
  }
  return files_.writeLine(unit, line);
}

bool HeadlessRuntime::writeLines(int unit, std::string_view lines) {
  // The screen keeps its lines one by one; a file takes the block whole.
  if (unit == kScreenUnit) return Runtime::writeLines(unit, lines);
  return files_.writeLines(unit, lines);
}

Canvas* HeadlessRuntime::activeCanvas() {
  return windows_.empty() ? nullptr : windows_.back().canvas.get();
}

Canvas* HeadlessRuntime::canvasOf(int unit) {
  for (GraphicsWindow& w : windows_)
    if (w.unit == unit) return w.canvas.get();
  return nullptr;
}

int HeadlessRuntime::saveImage(std::string_view fileName, int x1, int y1, int x2, int y2) {
  Canvas* canvas = activeCanvas();
  if (canvas == nullptr) return -1;
  return canvas->saveImage(files_.resolve(fileName), x1, y1, x2, y2);
}

bool HeadlessRuntime::invokeMenu(std::string_view text) {
  for (const MenuEntry& e : menus_) {
    if (e.text == text && e.callback) {
      e.callback(false);
      return true;
    }
  }
  return false;
}

}  // namespace tavel::platform::headless
