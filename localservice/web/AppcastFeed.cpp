#include "AppcastFeed.h"

#include <QXmlStreamWriter>

namespace kernwell::localservice {

QByteArray AppcastFeed::xml(const QString& baseUrl) const
{
    static const QString sparkle = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");
    const QString url = downloadUrl.isEmpty() ? QStringLiteral("%1/downloads/kernwell-%2.tar.gz").arg(baseUrl, shortVersion) : downloadUrl;
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeNamespace(sparkle, QStringLiteral("sparkle"));
    xml.writeStartElement(QStringLiteral("rss"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    xml.writeStartElement(QStringLiteral("channel"));
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Kernwell"));
    xml.writeTextElement(QStringLiteral("link"), baseUrl + QStringLiteral("/appcast.xml"));
    xml.writeTextElement(QStringLiteral("description"), QStringLiteral("Releases of Kernwell for Linux."));
    xml.writeStartElement(QStringLiteral("item"));
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Kernwell %1").arg(shortVersion));
    xml.writeTextElement(QStringLiteral("description"), notes);
    xml.writeTextElement(sparkle, QStringLiteral("version"), version);
    xml.writeTextElement(sparkle, QStringLiteral("shortVersionString"), shortVersion);
    xml.writeTextElement(sparkle, QStringLiteral("os"), QStringLiteral("linux"));
    xml.writeStartElement(QStringLiteral("enclosure"));
    xml.writeAttribute(QStringLiteral("url"), url);
    xml.writeAttribute(QStringLiteral("type"), QStringLiteral("application/octet-stream"));
    xml.writeAttribute(QStringLiteral("length"), QStringLiteral("0"));
    xml.writeAttribute(sparkle, QStringLiteral("version"), version);
    xml.writeAttribute(sparkle, QStringLiteral("shortVersionString"), shortVersion);
    xml.writeAttribute(sparkle, QStringLiteral("os"), QStringLiteral("linux"));
    xml.writeEndElement(); // enclosure
    xml.writeEndElement(); // item
    xml.writeEndElement(); // channel
    xml.writeEndElement(); // rss
    xml.writeEndDocument();
    return out;
}

} // namespace kernwell::localservice
