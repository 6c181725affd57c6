// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/headless/recording_canvas.h"

#include <charconv>
#include <cstdio>

namespace tavel::platform::headless {

namespace {

std::string_view withoutTrailingBlanks(std::string_view text) {
  const size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

// The number after `key` in an option text such as "t'Arial'h20w10b", or 0.
int optionNumber(std::string_view options, char key) {
  // Skip a quoted typeface, whose letters are not keys.
  size_t from = 0;
  const size_t quote = options.find('\'');
  if (quote != std::string_view::npos) {
    const size_t close = options.find('\'', quote + 1);
    if (close != std::string_view::npos) from = close + 1;
  }
  for (size_t i = from; i < options.size(); ++i) {
    if (options[i] != key) continue;
    int value = 0;
    const char* begin = options.data() + i + 1;
    const auto [end, error] = std::from_chars(begin, options.data() + options.size(), value);
    if (error == std::errc() && end != begin) return value;
  }
  return 0;
}

}  // namespace

std::string RecordingCanvas::formatCall(const RecordedCall& call) {
  std::string line = call.name;
  for (double arg : call.args) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, arg);
    line += ' ';
    line.append(buffer, result.ptr);
  }
  if (!call.text.empty() || call.name == "outText" || call.name == "setFont") {
    line += " \"" + call.text + "\"";
  }
  return line;
}

std::vector<std::string> RecordingCanvas::lines() const {
  std::vector<std::string> out;
  out.reserve(calls_.size());
  for (const RecordedCall& call : calls_) out.push_back(formatCall(call));
  return out;
}

void RecordingCanvas::record(std::string name, std::vector<double> args, std::string text) {
  calls_.push_back(RecordedCall{std::move(name), std::move(args), std::move(text)});
}

RecordingCanvas::FontEntry& RecordingCanvas::fontEntry(std::string_view options) {
  const std::string_view key = withoutTrailingBlanks(options);
  auto it = fonts_.find(key);
  if (it == fonts_.end()) {
    FontEntry entry;
    entry.answer = static_cast<int>(fonts_.size()) + 1;
    entry.height = optionNumber(key, 'h');
    entry.width = optionNumber(key, 'w');
    if (entry.height <= 0) entry.height = defaultFontHeight;
    if (entry.width <= 0) entry.width = defaultFontWidth;
    it = fonts_.emplace(std::string(key), entry).first;
  }
  return it->second;
}

void RecordingCanvas::setFontAnswer(std::string_view options, int answer) {
  fontEntry(options).answer = answer;
}

void RecordingCanvas::setFontMetrics(std::string_view options, int pixelHeight, int pixelWidth) {
  FontEntry& entry = fontEntry(options);
  entry.height = pixelHeight;
  entry.width = pixelWidth;
}

bool RecordingCanvas::getWindowConfig(WindowConfig& config) {
  if (!windowReadable) return false;
  config = window;
  return true;
}

bool RecordingCanvas::setWindowConfigMaximum() {
  record("setWindowConfigMaximum", {});
  if (maximiseAnswer) window = maximisedWindow;
  return maximiseAnswer;
}

void RecordingCanvas::clearWindow() { record("clearWindow", {}); }

int RecordingCanvas::saveImage(const std::string& path, int x1, int y1, int x2, int y2) {
  record("saveImage", {double(x1), double(y1), double(x2), double(y2)}, path);
  return saveImageResult;
}

int RecordingCanvas::setColour(int index) {
  record("setColour", {double(index)});
  const int previous = colour_;
  colour_ = index;
  return previous;
}

void RecordingCanvas::setLineStyle(std::uint16_t mask) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", mask);
  record("setLineStyle", {}, hex);
}

void RecordingCanvas::setFillMask(const FillMask& mask) {
  std::string hex;
  for (std::uint8_t row : mask) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02X", row);
    if (!hex.empty()) hex += ' ';
    hex += byte;
  }
  record("setFillMask", {}, hex);
}

void RecordingCanvas::setSolidFill() { record("setSolidFill", {}); }

void RecordingCanvas::setViewport(int left, int top, int right, int bottom) {
  record("setViewport", {double(left), double(top), double(right), double(bottom)});
  mapping_.setViewport(left, top, right, bottom);
  pen_ = PixelPoint{};
}

void RecordingCanvas::clearViewport() { record("clearViewport", {}); }

void RecordingCanvas::setWorldWindow(double x1, double y1, double x2, double y2, bool invert) {
  record("setWorldWindow", {x1, y1, x2, y2, invert ? 1.0 : 0.0});
  status_ = mapping_.setWindow(x1, y1, x2, y2, invert) ? 0 : -1;
}

void RecordingCanvas::movePen(double x, double y) {
  const PixelPoint device = mapping_.toPixel(x, y);
  pen_ = PixelPoint{device.x - mapping_.left(), device.y - mapping_.top()};
}

void RecordingCanvas::rectanglePixel(int control, int x1, int y1, int x2, int y2) {
  record("rectanglePixel", {double(control), double(x1), double(y1), double(x2), double(y2)});
}

void RecordingCanvas::rectangleWorld(int control, double x1, double y1, double x2, double y2) {
  record("rectangleWorld", {double(control), x1, y1, x2, y2});
}

void RecordingCanvas::ellipseWorld(int control, double x1, double y1, double x2, double y2) {
  record("ellipseWorld", {double(control), x1, y1, x2, y2});
}

void RecordingCanvas::polygonWorld(int control, const double* xy, int n) {
  std::vector<double> args{double(control)};
  for (int i = 0; i < 2 * n; ++i) args.push_back(xy[i]);
  record("polygonWorld", std::move(args));
}

void RecordingCanvas::moveToWorld(double x, double y) {
  record("moveToWorld", {x, y});
  movePen(x, y);
}

void RecordingCanvas::lineToWorld(double x, double y) {
  record("lineToWorld", {x, y});
  movePen(x, y);
}

void RecordingCanvas::moveToPixel(int x, int y) {
  record("moveToPixel", {double(x), double(y)});
  pen_ = PixelPoint{x, y};
}

void RecordingCanvas::getPositionPixel(int& x, int& y) {
  x = pen_.x;
  y = pen_.y;
}

int RecordingCanvas::initFonts() {
  record("initFonts", {});
  return 1;
}

int RecordingCanvas::setFont(std::string_view options) {
  record("setFont", {}, std::string(options));
  const FontEntry& entry = fontEntry(options);
  if (entry.answer > 0) current_ = entry;
  return entry.answer;
}

FontInfo RecordingCanvas::fontInfo() {
  FontInfo info;
  info.pixelHeight = current_.height;
  info.pixelWidth = current_.width;
  info.type = fontType;
  return info;
}

int RecordingCanvas::textExtent(std::string_view text) {
  return static_cast<int>(text.size()) * current_.width;
}

void RecordingCanvas::outText(std::string_view text) { record("outText", {}, std::string(text)); }

void RecordingCanvas::setTextRotation(int tenths) {
  record("setTextRotation", {double(tenths)});
  status_ = (tenths != 0 && rotationRefused) ? 1 : 0;
  if (status_ == 0) rotation_ = tenths;
}

int RecordingCanvas::graphicsStatus() { return status_; }

}  // namespace tavel::platform::headless
