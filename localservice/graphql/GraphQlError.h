#pragma once

#include <QString>

#include <stdexcept>

namespace kernwell::localservice {

// A query that cannot be parsed or answered; line and column are 1-based,
// 0 when the error has no place in the text.
class GraphQlError : public std::runtime_error {
public:
    GraphQlError(const QString& message, int line = 0, int column = 0)
        : std::runtime_error(message.toStdString())
        , m_message(message)
        , m_line(line)
        , m_column(column)
    {
    }

    const QString& message() const { return m_message; }
    int line() const { return m_line; }
    int column() const { return m_column; }

private:
    QString m_message;
    int m_line;
    int m_column;
};

} // namespace kernwell::localservice
