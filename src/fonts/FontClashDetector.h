#pragma once

#include "fonts/IdleWorker.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace kernwell {

// Finds synced fonts that a font installed elsewhere on the computer also
// provides, under the same family and style or the same PostScript name:
// applications then pick either copy. Names are read with fontconfig on a
// thread of its own, so a check never holds up the caller, nor its end the
// application's; each synced file is reported at most once.
class FontClashDetector : public QObject {
    Q_OBJECT
public:
    // The names of one face, as fontconfig reads them: the first family and
    // style are the ones applications list.
    struct Face {
        QString file;
        QString family;
        QString style;
        QString postScriptName;

        QString displayName() const { return family + QLatin1Char(' ') + style; }
        friend bool operator==(const Face&, const Face&) = default;
    };

    // The faces of one synced file.
    using FileReader = std::function<QList<Face>(const QString& file)>;
    // Returns once the font caches of the folders fontconfig reads are up
    // to date; called on the check's thread.
    using CacheWait = std::function<void()>;

    // Fonts under `ownFolders` are the synced ones and never count as
    // installed elsewhere. `installedFolders` empty: every font fontconfig
    // offers the user's applications; otherwise the fonts under these
    // folders alone. A synced file's faces are those fontconfig lists for a
    // file of its name under `ownFolders` (where the font is registered),
    // read from the caches after `waitForCaches`; `readFile` reads the file
    // itself where it lists none (empty: readFaces() of the one file).
    explicit FontClashDetector(QStringList ownFolders, QStringList installedFolders = {}, FileReader readFile = {},
        CacheWait waitForCaches = {}, QObject* parent = nullptr);
    // Stops a check under way (between two files) without waiting for it.
    ~FontClashDetector() override;

    // Reads `files` (synced font files) and the installed fonts off this
    // thread; clashFound() follows on this object's thread.
    void check(const QStringList& files);
    // The same for every file in `folder`, listed off this thread too.
    void checkFolder(const QString& folder);
    // Stops the checks under way, drops what they would report, and forgets
    // what was reported: the synced fonts now are another account's.
    void forget();

    // The faces of `synced` that some face of `installed` also provides, in
    // the order of `synced`.
    static QList<Face> clashes(const QList<Face>& synced, const QList<Face>& installed);
    // Every face of every file; files that are no fonts give none.
    static QList<Face> readFaces(const QStringList& files);

signals:
    // `fontName` is the face's family and style ("Acc Sans Regular").
    void clashFound(const QString& file, const QString& fontName);

private:
    void checkListed(std::function<QStringList()> listFiles);
    void report(const QList<Face>& clashing);

    const QStringList m_ownFolders;
    const QStringList m_installedFolders;
    const FileReader m_readFile;
    const CacheWait m_waitForCaches;
    QSet<QString> m_reported; // files
    IdleWorker m_reader;
};

} // namespace kernwell
