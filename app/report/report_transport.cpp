#include "report_transport.h"

#include <QSettings>

namespace vidmill {

TReportTransport ReadReportTransport(QSettings& settings) {
  TReportTransport t;
  settings.beginGroup(QLatin1String(kReportSettingsGroup));
  t.Host = settings.value(QStringLiteral("Host"), t.Host).toString().trimmed();
  bool port_ok = false;
  const int port = settings.value(QStringLiteral("Port"), t.Port).toInt(&port_ok);
  if (port_ok && port > 0 && port < 65536) t.Port = port;
  t.Account = settings.value(QStringLiteral("Account"), t.Account).toString().trimmed();
  t.Password = settings.value(QStringLiteral("Password"), t.Password).toString();
  const QString recipient = settings.value(QStringLiteral("Recipient")).toString().trimmed();
  if (!recipient.isEmpty()) t.Recipient = recipient;
  t.CaFile = settings.value(QStringLiteral("CaFile"), t.CaFile).toString();
  settings.endGroup();
  return t;
}

TReportTransport ReadReportTransport() {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwick"),
                     QStringLiteral("Tarnwick Vidmill"));
  return ReadReportTransport(settings);
}

}  // namespace vidmill
