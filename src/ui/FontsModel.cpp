#include "ui/FontsModel.h"

#include <QLocale>
#include <QSet>

#include <utility>

namespace kernwell {

void FontsModel::setFonts(QList<SyncedFont> fonts)
{
    m_fonts = std::move(fonts);
    rebuild();
}

void FontsModel::setUsage(const QHash<QString, QStringList>& usersByFontId)
{
    if (usersByFontId == m_users) {
        return;
    }
    m_users = usersByFontId;
    rebuild();
}

void FontsModel::setSearch(const QString& text)
{
    m_search = text.trimmed();
    rebuild();
}

void FontsModel::rebuild()
{
    beginResetModel();
    m_shown.clear();
    for (qsizetype i = 0; i < m_fonts.size();) {
        Family family { m_fonts.at(i).family, {}, {} };
        const bool familyMatches = family.name.contains(m_search, Qt::CaseInsensitive);
        QSet<QString> users;
        for (; i < m_fonts.size() && m_fonts.at(i).family == family.name; ++i) {
            const SyncedFont& font = m_fonts.at(i);
            for (const QString& user : m_users.value(font.fontId)) {
                users.insert(user);
            }
            if (familyMatches || font.style.contains(m_search, Qt::CaseInsensitive)) {
                family.styles.append(font);
            }
        }
        if (!family.styles.isEmpty()) {
            family.usedBy = QStringList(users.cbegin(), users.cend());
            family.usedBy.sort(Qt::CaseInsensitive);
            m_shown.append(std::move(family));
        }
    }
    endResetModel();
}

QString FontsModel::totalsText() const
{
    QSet<QString> families;
    qint64 bytes = 0;
    for (const SyncedFont& font : m_fonts) {
        families.insert(font.family);
        bytes += font.size;
    }
    return tr("Families: %1, styles: %2, on disk: %3")
        .arg(families.size())
        .arg(m_fonts.size())
        .arg(QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat));
}

QString FontsModel::usageText(const QStringList& programs)
{
    return programs.isEmpty() ? QString() : tr("In use by %1").arg(programs.join(QStringLiteral(", ")));
}

QString FontsModel::describe(const Family& family) const
{
    QStringList styles;
    for (const SyncedFont& font : family.styles) {
        styles.append(font.style);
    }
    QString text = tr("%1: %2").arg(family.name, styles.join(QStringLiteral(", ")));
    if (!family.usedBy.isEmpty()) {
        text += QStringLiteral(". ") + usageText(family.usedBy);
    }
    return text;
}

int FontsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_shown.size()); }

QVariant FontsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown.size()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
        return describe(m_shown.at(index.row()));
    }
    return {};
}

} // namespace kernwell
