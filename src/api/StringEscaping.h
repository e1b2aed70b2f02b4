#pragma once

#include <QString>

namespace kernwell {

// The content of a double-quoted string literal that reads back as exactly
// `text`, under the escape rules that JSON and GraphQL share: \" \\ \b \f \n
// \r \t, \uXXXX for the other control characters and for unpaired surrogates
// (which have no UTF-8 form). Everything else, non-ASCII included, is kept.
QString escapeForStringLiteral(const QString& text);

} // namespace kernwell
