#include "list_texts.h"

#include <QLocale>

namespace vidmill {

QString DurationText(int64_t microseconds) {
  const int64_t t = microseconds > 0 ? microseconds / 1000000 : 0;
  return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(t / 3600),
                           static_cast<long long>((t / 60) % 60), static_cast<long long>(t % 60));
}

// The locale's decimal separator, but no grouping: "1234.56 MB", never "1,234.56 MB".
QString SizeText(double megabytes) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
  return locale.toString(megabytes, 'f', 2) + QStringLiteral(" MB");
}

}  // namespace vidmill
