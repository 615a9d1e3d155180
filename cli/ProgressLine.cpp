#include "cli/ProgressLine.h"

#include <cstdio>

namespace Velmora {
namespace ZQCli {

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Begin(const std::string& what) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  what_ = what;
  began_ = clock_();
  drawn_ = began_;
  Draw(what_ + "...");
}

void ProgressLine::Received(uint64_t received, int64_t total, bool complete) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (what_.empty()) return;  // no operation is running
  const auto now = clock_();
  if (now - began_ < kQuietTime) return;
  if (!complete && now - drawn_ < kRedrawTime) return;
  drawn_ = now;
  std::string text = what_ + "... " + Bytes(received);
  if (total >= 0) text += " of " + Bytes(static_cast<uint64_t>(total));
  Draw(text);
}

void ProgressLine::Clear() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  what_.clear();
  if (!shown_) return;
  err_ << "\r\033[K" << std::flush;
  shown_ = false;
}

std::string ProgressLine::Bytes(uint64_t count) {
  if (count < 1024) return std::to_string(count) + " B";
  const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(count) / 1024.0;
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < sizeof(units) / sizeof(units[0])) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f %s", value, units[unit]);
  return text;
}

void ProgressLine::Draw(const std::string& text) {
  err_ << "\r\033[K" << "zqblog: " << text << std::flush;
  shown_ = true;
}

}  // namespace ZQCli
}  // namespace Velmora
