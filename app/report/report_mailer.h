// Sending a report mail over SMTP with libcurl.
//
// The connection must be protected with TLS (STARTTLS, or implicit TLS on
// port 465) before the account's password is sent; a server that cannot
// offer TLS fails the send. The connection is closed in every case.
//
// Thread rules: any thread; blocks for at most about a minute.
#pragma once

#include <QString>

#include "report_message.h"
#include "report_transport.h"

namespace vidmill {

struct TSendResult {
  bool Sent = false;
  QString Error;  // libcurl's explanation when not sent
};

TSendResult SendReportMail(const TReportTransport& transport, const TMailMessage& message);

}  // namespace vidmill
