#pragma once

#include "fonts/SyncedFont.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace kernwell {

// The synced fonts by family, one row per family that the search leaves,
// sorted by family: its styles and the programs that use it. A row's text
// (DisplayRole) says all of that in words, for screen readers.
class FontsModel : public QAbstractListModel {
    Q_OBJECT
public:
    struct Family {
        QString name;
        QList<SyncedFont> styles; // those the search leaves, in the order given
        QStringList usedBy;
    };

    using QAbstractListModel::QAbstractListModel;

    // `fonts` sorted by family (as SyncedFontReader reads them).
    void setFonts(QList<SyncedFont> fonts);
    // By font id, as FontUsageScanner::scan() finds them.
    void setUsage(const QHash<QString, QStringList>& usersByFontId);
    // Keeps the families whose name holds `text`, and of the others the
    // styles whose name does, case ignored; empty keeps all.
    void setSearch(const QString& text);

    const QList<SyncedFont>& fonts() const { return m_fonts; }
    const Family& family(int row) const { return m_shown.at(row); }
    // "Families: 12, styles: 40, on disk: 3.2 MB": the whole library,
    // whatever the search.
    QString totalsText() const;
    // "In use by Inkscape, LibreOffice Writer"; empty when nothing uses it.
    static QString usageText(const QStringList& programs);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void rebuild();
    QString describe(const Family& family) const;

    QList<SyncedFont> m_fonts;
    QHash<QString, QStringList> m_users;
    QString m_search;
    QList<Family> m_shown;
};

} // namespace kernwell
