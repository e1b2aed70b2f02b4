#pragma once

#include <QString>
#include <QTextDocument>

namespace kernwell::test {

// The characters a label or tooltip shows for `text` in `format`, read the
// way Qt reads it: automatic text is rich when Qt::mightBeRichText says so.
inline QString shownText(const QString& text, Qt::TextFormat format = Qt::AutoText)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text))) {
        return text;
    }
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

} // namespace kernwell::test
