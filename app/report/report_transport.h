// Where error reports are mailed: read from the settings store, never from
// the program, so no account secret lives in the source.
//
// Group "ErrorReport" of the settings key: Host, Port (default 26), Account
// (the reporting account's user name and sender address), Password,
// Recipient (default the maker's support address) and CaFile (an extra
// certificate file to trust). With no account set, reports go straight to
// the user's mail program.
#pragma once

#include <QString>

class QSettings;

namespace vidmill {

inline constexpr char kReportSubject[] = "ERROR REPORT | Tarnwick Vidmill";
inline constexpr char kDefaultSupportAddress[] = "vidmill-support@tarnwick.example";
inline constexpr int kDefaultReportPort = 26;
inline constexpr char kReportSettingsGroup[] = "ErrorReport";

struct TReportTransport {
  QString Host;
  int Port = kDefaultReportPort;
  QString Account;
  QString Password;
  QString Recipient = QString::fromLatin1(kDefaultSupportAddress);
  QString CaFile;
  // Mail is sent only with an account and a host; then TLS is required.
  bool CanSend() const { return !Account.isEmpty() && !Host.isEmpty(); }
};

// Reads the group "ErrorReport" of settings; absent values keep the defaults.
TReportTransport ReadReportTransport(QSettings& settings);
// The same from the application's own settings key.
TReportTransport ReadReportTransport();

}  // namespace vidmill
