#include "progress_display.h"

#include <algorithm>
#include <cmath>

namespace vidmill::cli {

double RunPercent(const std::vector<TTaskProgress>& tasks) {
  if (tasks.empty()) return 100.0;
  double sum = 0;
  for (const TTaskProgress& t : tasks) {
    if (t.ended) {
      sum += 1.0;
    } else if (t.total_us > 0) {
      sum += std::clamp(static_cast<double>(t.done_us) / static_cast<double>(t.total_us), 0.0, 1.0);
    }
  }
  return 100.0 * sum / static_cast<double>(tasks.size());
}

std::string ClockText(double seconds) {
  if (!(seconds >= 0) || seconds > 359999) return "--:--:--";
  const long s = std::lround(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

TProgressDisplay::TProgressDisplay(std::FILE* out, bool terminal, std::vector<std::string> names)
    : out_(out),
      terminal_(terminal),
      names_(std::move(names)),
      tasks_(names_.size()),
      start_(std::chrono::steady_clock::now()),
      last_plain_(start_) {}

void TProgressDisplay::Update(int task, int64_t done_us, int64_t total_us) {
  std::lock_guard lock(mu_);
  if (task < 0 || task >= static_cast<int>(tasks_.size())) return;
  tasks_[static_cast<size_t>(task)].done_us = done_us;
  tasks_[static_cast<size_t>(task)].total_us = total_us;
  changed_ = true;
}

void TProgressDisplay::Ended(int task) {
  std::lock_guard lock(mu_);
  if (task < 0 || task >= static_cast<int>(tasks_.size())) return;
  tasks_[static_cast<size_t>(task)].ended = true;
  changed_ = true;
}

// "[ 45.0%] 3/8 done  speed 2.3x  left 00:00:12  out.mp4"
std::string TProgressDisplay::Line() {
  std::lock_guard lock(mu_);
  const double percent = RunPercent(tasks_);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  double media_s = 0;
  int ended = 0;
  std::string current;
  for (size_t i = 0; i < tasks_.size(); ++i) {
    const TTaskProgress& t = tasks_[i];
    if (t.ended) {
      ++ended;
      if (t.total_us > 0) media_s += static_cast<double>(t.total_us) / 1e6;
      continue;
    }
    media_s += static_cast<double>(t.done_us) / 1e6;
    if (current.empty() && t.done_us > 0) current = names_[i];
  }
  const double speed = elapsed > 0.5 ? media_s / elapsed : 0;
  const double left = percent > 0.5 ? elapsed * (100.0 - percent) / percent : -1;
  char speed_text[32] = "-";
  if (speed > 0) std::snprintf(speed_text, sizeof speed_text, "%.1fx", speed);
  char text[512];
  std::snprintf(text, sizeof text, "[%5.1f%%] %d/%zu done  speed %s  left %s  %s", percent, ended, tasks_.size(),
                speed_text, ClockText(left).c_str(), current.c_str());
  changed_ = false;
  return text;
}

void TProgressDisplay::ClearLine() {
  if (terminal_ && bar_shown_) {
    std::fputs("\r\033[K", out_);
    bar_shown_ = false;
  }
}

void TProgressDisplay::Draw() {
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(mu_);
    if (!changed_) return;
    if (!terminal_ && now - last_plain_ < std::chrono::seconds(1)) return;
  }
  const std::string line = Line();
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s", line.c_str());
    bar_shown_ = true;
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
    last_plain_ = now;
  }
  std::fflush(out_);
}

void TProgressDisplay::Failed(int task, const std::string& message) {
  ClearLine();
  const std::string name = task >= 0 && task < static_cast<int>(names_.size()) ? names_[static_cast<size_t>(task)] : "";
  std::fprintf(stderr, "vidmill-cli convert: %s: %s\n", name.c_str(), message.c_str());
  std::fflush(stderr);
}

void TProgressDisplay::Summary(int converted, int failed, int stopped, int total) {
  ClearLine();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(out_, "%d of %d files converted", converted, total);
  if (failed || stopped) {
    std::fprintf(out_, " (");
    if (failed) std::fprintf(out_, "%d failed", failed);
    if (failed && stopped) std::fprintf(out_, ", ");
    if (stopped) std::fprintf(out_, "%d stopped", stopped);
    std::fprintf(out_, ")");
  }
  std::fprintf(out_, " in %s\n", ClockText(elapsed).c_str());
  std::fflush(out_);
}

}  // namespace vidmill::cli
