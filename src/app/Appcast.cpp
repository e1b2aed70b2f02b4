#include "app/Appcast.h"

#include "app/VersionComparator.h"
#include "diagnostics/Error.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

namespace kernwell {

namespace {

    bool isSparkle(const QXmlStreamReader& xml, QLatin1String name)
    {
        return xml.namespaceUri() == QLatin1String(Appcast::sparkleNamespace) && xml.name() == name;
    }

    bool isPlain(const QXmlStreamReader& xml, QLatin1String name)
    {
        return xml.namespaceUri().isEmpty() && xml.name() == name;
    }

    QString sparkleAttribute(const QXmlStreamAttributes& attributes, QLatin1String name)
    {
        return attributes.value(QLatin1String(Appcast::sparkleNamespace), name).toString().trimmed();
    }

    // Reads one <item>; the reader stands on its start element.
    std::optional<AppcastItem> readItem(QXmlStreamReader& xml)
    {
        AppcastItem item;
        QString elementVersion, elementDisplayVersion, elementOs;
        QString enclosureVersion, enclosureDisplayVersion, enclosureOs;
        QUrl link, enclosureURL;
        while (xml.readNextStartElement()) {
            if (isPlain(xml, QLatin1String("title"))) {
                item.title = xml.readElementText().trimmed();
            } else if (isPlain(xml, QLatin1String("link"))) {
                link = QUrl(xml.readElementText().trimmed(), QUrl::StrictMode);
            } else if (isSparkle(xml, QLatin1String("version"))) {
                elementVersion = xml.readElementText().trimmed();
            } else if (isSparkle(xml, QLatin1String("shortVersionString"))) {
                elementDisplayVersion = xml.readElementText().trimmed();
            } else if (isSparkle(xml, QLatin1String("os"))) {
                elementOs = xml.readElementText().trimmed();
            } else if (isPlain(xml, QLatin1String("enclosure"))) {
                const auto attributes = xml.attributes();
                enclosureURL = QUrl(attributes.value(QLatin1String("url")).toString().trimmed(), QUrl::StrictMode);
                enclosureVersion = sparkleAttribute(attributes, QLatin1String("version"));
                enclosureDisplayVersion = sparkleAttribute(attributes, QLatin1String("shortVersionString"));
                enclosureOs = sparkleAttribute(attributes, QLatin1String("os"));
                xml.skipCurrentElement();
            } else {
                xml.skipCurrentElement();
            }
        }
        item.version = !elementVersion.isEmpty() ? elementVersion : enclosureVersion;
        if (item.version.isEmpty()) {
            return std::nullopt;
        }
        item.displayVersion = !elementDisplayVersion.isEmpty() ? elementDisplayVersion : enclosureDisplayVersion;
        if (item.displayVersion.isEmpty()) {
            item.displayVersion = item.version;
        }
        item.os = !enclosureOs.isEmpty() ? enclosureOs : elementOs;
        if (item.os.isEmpty()) {
            item.os = QStringLiteral("macos");
        }
        item.downloadURL = enclosureURL.isValid() && !enclosureURL.isEmpty() ? enclosureURL : link;
        return item;
    }

} // namespace

QList<AppcastItem> Appcast::parse(const QByteArray& feed)
{
    QXmlStreamReader xml(feed);
    QList<AppcastItem> items;
    if (!xml.readNextStartElement() || !isPlain(xml, QLatin1String("rss"))) {
        throw Error(QString::fromLatin1(errorDomain), 1,
            xml.hasError() ? QCoreApplication::translate("kernwell::Appcast", "The update feed is not well-formed XML: %1")
                                 .arg(xml.errorString())
                           : QCoreApplication::translate("kernwell::Appcast", "The update feed is not an RSS feed."));
    }
    while (xml.readNextStartElement()) {
        if (!isPlain(xml, QLatin1String("channel"))) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (!isPlain(xml, QLatin1String("item"))) {
                xml.skipCurrentElement();
                continue;
            }
            if (auto item = readItem(xml)) {
                items.append(*item);
            }
        }
    }
    if (xml.hasError()) {
        throw Error(QString::fromLatin1(errorDomain), 1,
            QCoreApplication::translate("kernwell::Appcast", "The update feed is not well-formed XML: %1").arg(xml.errorString()));
    }
    return items;
}

std::optional<AppcastItem> Appcast::bestUpdate(const QList<AppcastItem>& items, const QString& currentBuild, const QString& os)
{
    std::optional<AppcastItem> best;
    for (const auto& item : items) {
        if (item.os.compare(os, Qt::CaseInsensitive) != 0) {
            continue;
        }
        if (VersionComparator::compare(item.version, currentBuild) <= 0) {
            continue;
        }
        if (!best || VersionComparator::compare(item.version, best->version) > 0) {
            best = item;
        }
    }
    return best;
}

} // namespace kernwell
