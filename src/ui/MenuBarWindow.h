#pragma once

#include <QWidget>

namespace kernwell {

class MenuBarView;

// The menu-bar content in an ordinary window titled "Kernwell", for desktops
// whose tray can't hold the popup. The window manager places it and the user
// may resize it; closing it only hides it. It opens at the content's size
// where the screen has room for it and grows with the content (signing in),
// never beyond the screen; what does not fit scrolls.
class MenuBarWindow : public QWidget {
    Q_OBJECT
public:
    explicit MenuBarWindow(MenuBarView* view);

    MenuBarView* view() const { return m_view; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // At least the content's least size, as far as the screen allows.
    void fitContent();

    MenuBarView* m_view;
    QSize m_fittedTo;
};

} // namespace kernwell
