#include "app/BundleInfo.h"

#include <QFile>

#include <plist/plist.h>

#include <limits>

namespace kernwell {

namespace {

    QString typeName(plist_type type)
    {
        switch (type) {
        case PLIST_BOOLEAN:
            return QStringLiteral("a boolean");
        case PLIST_UINT:
        case PLIST_REAL:
            return QStringLiteral("a number");
        case PLIST_STRING:
            return QStringLiteral("text");
        case PLIST_ARRAY:
            return QStringLiteral("an array");
        case PLIST_DICT:
            return QStringLiteral("a dictionary");
        case PLIST_DATE:
            return QStringLiteral("a date");
        case PLIST_DATA:
            return QStringLiteral("data");
        default:
            return QStringLiteral("an unsupported value");
        }
    }

} // namespace

void BundleInfo::PlistDeleter::operator()(void* plist) const { plist_free(static_cast<plist_t>(plist)); }

BundleInfo::BundleInfo(QString path, std::shared_ptr<void> root)
    : m_path(std::move(path))
    , m_root(std::move(root))
{
}

BundleInfo BundleInfo::fromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Error(QString::fromLatin1(errorDomain), unreadable,
            QStringLiteral("cannot read %1: %2.").arg(path, file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    plist_t root = nullptr;
    if (!bytes.isEmpty() && bytes.size() < std::numeric_limits<uint32_t>::max()) {
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    }
    std::shared_ptr<void> owned(root, PlistDeleter {});
    if (!root || plist_get_node_type(root) != PLIST_DICT) {
        throw Error(QString::fromLatin1(errorDomain), malformed,
            QStringLiteral("%1 is not a property list with a dictionary at its root.").arg(path));
    }
    return BundleInfo(path, std::move(owned));
}

Error BundleInfo::error(ErrorCode code, const char* key, const QString& problem) const
{
    return Error(QString::fromLatin1(errorDomain), code,
        QStringLiteral("%1: \"%2\" %3").arg(m_path, QString::fromLatin1(key), problem));
}

void* BundleInfo::item(const char* key) const { return plist_dict_get_item(static_cast<plist_t>(m_root.get()), key); }

QString BundleInfo::text(const char* key) const
{
    auto* node = static_cast<plist_t>(item(key));
    if (!node) {
        throw error(missing, key, QStringLiteral("is missing."));
    }
    const plist_type type = plist_get_node_type(node);
    if (type != PLIST_STRING) {
        throw error(wrongType, key, QStringLiteral("is %1, not text.").arg(typeName(type)));
    }
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    return QString::fromUtf8(value, static_cast<qsizetype>(length));
}

QUrl BundleInfo::parseUrl(const char* key, const QString& text) const
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()) {
        throw error(badUrl, key, QStringLiteral("is not an absolute http or https URL: \"%1\".").arg(text));
    }
    return url;
}

QUrl BundleInfo::url(const char* key) const { return parseUrl(key, text(key)); }

std::optional<QUrl> BundleInfo::optionalUrl(const char* key) const
{
    if (!item(key)) {
        return std::nullopt;
    }
    return url(key);
}

std::optional<qint64> BundleInfo::optionalInteger(const char* key) const
{
    auto* node = static_cast<plist_t>(item(key));
    if (!node) {
        return std::nullopt;
    }
    const plist_type type = plist_get_node_type(node);
    if (type != PLIST_UINT) {
        throw error(wrongType, key, QStringLiteral("is %1, not an integer.").arg(typeName(type)));
    }
    uint64_t value = 0;
    plist_get_uint_val(node, &value);
    if (value > static_cast<uint64_t>(std::numeric_limits<qint64>::max())) {
        throw error(badValue, key, QStringLiteral("is out of range."));
    }
    return static_cast<qint64>(value);
}

std::optional<bool> BundleInfo::optionalBoolean(const char* key) const
{
    auto* node = static_cast<plist_t>(item(key));
    if (!node) {
        return std::nullopt;
    }
    const plist_type type = plist_get_node_type(node);
    if (type != PLIST_BOOLEAN) {
        throw error(wrongType, key, QStringLiteral("is %1, not a boolean.").arg(typeName(type)));
    }
    uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

} // namespace kernwell
