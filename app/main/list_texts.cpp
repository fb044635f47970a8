#include "list_texts.h"

#include <QLocale>

namespace vidmill {

QString DurationText(int64_t microseconds) {
  const int64_t t = microseconds > 0 ? microseconds / 1000000 : 0;
  return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(t / 3600),
                           static_cast<long long>((t / 60) % 60), static_cast<long long>(t % 60));
}

QString SizeText(double megabytes) {
  return QLocale().toString(megabytes, 'f', 2) + QStringLiteral(" MB");
}

}  // namespace vidmill
