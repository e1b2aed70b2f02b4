#include "diagnostics/Error.h"

namespace kernwell {

Error::Error(QString domain, int code, QString description)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_description(std::move(description))
    , m_what((m_domain + QLatin1Char(' ') + QString::number(m_code) + QStringLiteral(": ") + m_description).toUtf8())
{
}

} // namespace kernwell
