#include "history_list.h"

namespace vidmill {

QString HistoryLineOf(uint32_t thread_id, TLogLevel level, const QString& message) {
  QString text = message;
  while (text.endsWith(u'\n') || text.endsWith(u'\r')) text.chop(1);
  return QStringLiteral("#%1.%2: %3").arg(thread_id).arg(static_cast<int>(level)).arg(text);
}

}  // namespace vidmill
