#include "report_mailer.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>
#include <mutex>

#include <QDateTime>

namespace vidmill {
namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr long kTotalTimeoutSeconds = 60;

struct CurlEasyFree {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct CurlListFree {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Upload {
  QByteArray data;
  qsizetype sent = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const size_t room = size * count;
  const size_t left = static_cast<size_t>(upload->data.size() - upload->sent);
  const size_t n = left < room ? left : room;
  std::memcpy(buffer, upload->data.constData() + upload->sent, n);
  upload->sent += static_cast<qsizetype>(n);
  return n;
}

QByteArray ServerUrl(const TReportTransport& t) {
  const char* scheme = t.Port == 465 ? "smtps" : "smtp";
  return QStringLiteral("%1://%2:%3").arg(QLatin1String(scheme), t.Host).arg(t.Port).toUtf8();
}

}  // namespace

TSendResult SendReportMail(const TReportTransport& transport, const TMailMessage& message) {
  InitCurlOnce();
  std::unique_ptr<CURL, CurlEasyFree> curl(curl_easy_init());
  if (!curl) return {false, QStringLiteral("libcurl could not start a transfer")};
  CURL* c = curl.get();

  const QByteArray url = ServerUrl(transport);
  const QByteArray user = transport.Account.toUtf8();
  const QByteArray password = transport.Password.toUtf8();
  const QByteArray from = ("<" + message.From + ">").toUtf8();
  const QByteArray ca_file = transport.CaFile.toUtf8();
  std::unique_ptr<curl_slist, CurlListFree> recipients(
      curl_slist_append(nullptr, ("<" + message.To + ">").toUtf8().constData()));
  Upload upload{MailText(message, QDateTime::currentDateTime()), 0};
  char error[CURL_ERROR_SIZE] = {};

  curl_easy_setopt(c, CURLOPT_URL, url.constData());
  curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  if (!ca_file.isEmpty()) curl_easy_setopt(c, CURLOPT_CAINFO, ca_file.constData());
  curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
  curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.constData());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
  curl_easy_setopt(c, CURLOPT_READFUNCTION, &ReadUpload);
  curl_easy_setopt(c, CURLOPT_READDATA, &upload);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, kTotalTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);

  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_OK) return {true, {}};
  const QString detail = QString::fromUtf8(error[0] ? error : curl_easy_strerror(rc));
  return {false, detail.trimmed()};
}

}  // namespace vidmill
