// A mail server of the tests' own on 127.0.0.1 (smtp_server.py), and a
// self-signed certificate for it made with openssl.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace vidmill::testing {

// The QCoreApplication that QProcess and queued calls need; made once.
inline QCoreApplication& TestApp() {
  static int argc = 1;
  static char name[] = "report_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                               : new QCoreApplication(argc, argv);
  return *app;
}

class TTestMailServer {
 public:
  // tls: STARTTLS and AUTH required, with a fresh certificate for 127.0.0.1.
  TTestMailServer(bool tls, const QString& user = {}, const QString& password = {}) {
    TestApp();
    QStringList args = {QStringLiteral(VIDMILL_SMTP_SERVER), "--out", dir_.filePath("mail")};
    QDir().mkpath(dir_.filePath("mail"));
    if (tls) {
      if (!MakeCertificate()) return;
      args << "--cert" << CertFile() << "--key" << dir_.filePath("key.pem") << "--user" << user
           << "--password" << password;
    }
    process_.start(QStringLiteral("/usr/bin/python3"), args);
    if (!process_.waitForStarted(5000)) {
      error_ = "cannot start python3: " + process_.errorString();
      return;
    }
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    const QByteArray line = process_.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
      error_ = "mail server did not start: " + QString::fromUtf8(line + process_.readAllStandardError());
      return;
    }
    port_ = line.mid(5).toInt();
  }
  ~TTestMailServer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.closeWriteChannel();
    if (!process_.waitForFinished(5000)) {
      process_.kill();
      process_.waitForFinished(2000);
    }
  }
  bool Running() const { return port_ > 0; }
  QString Error() const { return error_; }
  int Port() const { return port_; }
  QString CertFile() const { return dir_.filePath("cert.pem"); }

  // The n-th received message (1-based), waiting up to a few seconds for it.
  QJsonObject Message(int n) const {
    const QString path = dir_.filePath(QStringLiteral("mail/%1.json").arg(n, 3, 10, QLatin1Char('0')));
    for (int i = 0; i < 100 && !QFile::exists(path); ++i) QThread::msleep(50);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
  }
  int MessageCount() const {
    return static_cast<int>(QDir(dir_.filePath("mail")).entryList({"*.json"}, QDir::Files).size());
  }

 private:
  bool MakeCertificate() {
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                              "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                              dir_.filePath("key.pem"), "-out", CertFile()});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
      error_ = "openssl could not make a certificate: " + QString::fromUtf8(openssl.readAllStandardError());
      return false;
    }
    return true;
  }

  QTemporaryDir dir_;
  QProcess process_;
  int port_ = 0;
  QString error_;
};

}  // namespace vidmill::testing
