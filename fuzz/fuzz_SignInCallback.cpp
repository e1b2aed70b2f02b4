#include "app/SignInCallback.h"

#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// The callback written again in its plainest form: every byte but the
// unreserved ones escaped.
QString canonical(const kernwell::SignInCallback& callback)
{
    return QStringLiteral("kernwell://desktop/authorize?token=%1&email=%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(callback.token)),
            QString::fromLatin1(QUrl::toPercentEncoding(callback.email)));
}

} // namespace

// The input is the URL's text as UTF-8, as a web page may hand it over. An
// accepted callback must read back to itself from its plainest form, and
// appending another query item must not change what is read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString url = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto parsed = kernwell::SignInCallback::parse(url);
    if (!parsed) {
        return 0;
    }
    if (kernwell::SignInCallback::parse(canonical(*parsed)) != parsed) {
        fail("the callback does not read back from its plainest form");
    }
    if (!url.contains(QLatin1Char('#'))
        && kernwell::SignInCallback::parse(url + QStringLiteral("&next=1")) != parsed) {
        fail("a third query item changed the callback");
    }
    return 0;
}
