#include "run_progress.h"

#include <algorithm>
#include <cmath>

namespace vidmill {
namespace {
int Clamp100(double v) { return static_cast<int>(std::clamp(v, 0.0, 100.0)); }
}  // namespace

int CurrentTaskPercent(int64_t c, int64_t d) {
  if (d <= 0 || c <= 0) return 0;
  return Clamp100(static_cast<double>(c * 100 / d));
}

int TotalPercent(int t, int n, int64_t c, int64_t d) {
  if (n <= 0 || t < 0) return 0;
  const double share = 100.0 / n;
  const double within = d > 0 && c > 0 ? std::min(1.0, static_cast<double>(c) / static_cast<double>(d)) : 0.0;
  return Clamp100(std::nearbyint(share * t + share * within));
}

int64_t RemainingMs(int64_t elapsed_ms, double fraction) {
  if (fraction < 0.01 || elapsed_ms < 1000) return -1;
  if (fraction >= 1.0) return 0;
  return static_cast<int64_t>(elapsed_ms * (1.0 - fraction) / fraction);
}

QString ClockText(int64_t ms) {
  if (ms < 0) return QStringLiteral("--:--:--");
  const int64_t t = ms / 1000;
  return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(t / 3600),
                           static_cast<long long>((t / 60) % 60), static_cast<long long>(t % 60));
}

void TRunOutcome::TaskEnded(int task, bool finished, bool exception) {
  if (task < 0 || task >= ended_.size() || ended_[task]) return;
  ended_[task] = true;
  if (finished && !exception) {
    ++finished_;
  } else if (exception || !cancelled_) {
    failed_[task] = true;
  }
}

int TRunOutcome::Failed() const { return static_cast<int>(std::count(failed_.begin(), failed_.end(), true)); }

bool TRunOutcome::Completed() const { return !cancelled_ && finished_ == Tasks(); }

QString TRunOutcome::FinalText() const {
  if (Failed() > 0)
    return (cancelled_ ? QStringLiteral("Conversion cancelled: %1 of %2 tasks failed.")
                       : QStringLiteral("Conversion finished: %1 of %2 tasks failed."))
        .arg(Failed())
        .arg(Tasks());
  if (cancelled_) return QStringLiteral("Conversion cancelled.");
  return QStringLiteral("Conversion successfully done.");
}

}  // namespace vidmill
