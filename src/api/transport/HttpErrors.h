#pragma once

#include "diagnostics/Error.h"

#include <QNetworkReply>

#include <boost/system/error_code.hpp>

namespace kernwell {

// Turns a failed reply into the transport error of UrlSession::errorDomain.
// `cancelledByUs` tells a deliberate abort from the transfer time-out, which
// Qt reports with the same error value.
Error httpTransportError(QNetworkReply::NetworkError error, const QString& detail, bool cancelledByUs);

// Whether the failure is only Qt's reading of an HTTP status (401, 500 …):
// the answer came in full and is handed on untouched.
bool isHttpStatusError(QNetworkReply::NetworkError error);

// The transport error of a request that failed once its connection was up.
Error httpExchangeError(const boost::system::error_code& error);
Error httpTimedOutError();
Error httpCancelledError();

} // namespace kernwell
