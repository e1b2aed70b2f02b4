#pragma once

#include "app/ColorSchemeSource.h"
#include "fonts/SyncedFontReader.h"
#include "ui/FontsWindow.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

namespace kernwell {



// The synced fonts as this computer has them: the window that shows them
// (one at a time, built when opened and freed when closed) and, on the
// session bus at <application path>/Fonts, their list for the command line.
class FontsOnComputer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kernwell.Kernwell.Fonts")
public:
    static constexpr const char* interfaceName = "org.kernwell.Kernwell.Fonts";

    // `fontFolder`: the font store's folder; `linkFolder`: where its fonts
    // are registered (see LinkFolder). The window takes `colorScheme`'s
    // scheme and follows its changes.
    FontsOnComputer(QString fontFolder, QString linkFolder, ColorSchemeSource& colorScheme, QDBusConnection bus,
        QString objectPath, QObject* parent = nullptr);
    ~FontsOnComputer() override;

    // False when there is no bus or the path is taken.
    bool exportOnBus();
    // Opens the window, or brings the open one forward.
    void open();
    FontsWindow* window() const { return m_window; }
    // The names of the fields of an entry of List(), in order.
    static QStringList listFields();

public slots:
    // One entry per font: family, style, font id, file, size in bytes (all
    // texts), sorted by family.
    Q_SCRIPTABLE QVariantList List() const;

private:
    SyncedFontReader m_reader;
    ColorSchemeSource& m_colorScheme;
    QDBusConnection m_bus;
    QString m_objectPath;
    bool m_exported = false;
    QPointer<FontsWindow> m_window;
};

} // namespace kernwell
