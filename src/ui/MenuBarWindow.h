#pragma once

#include <QWidget>

namespace kernwell {

class MenuBarView;

// The menu-bar content in an ordinary window titled "Kernwell", for desktops
// whose tray can't hold the popup. The window manager places it and the user
// may resize it; closing it only hides it.
class MenuBarWindow : public QWidget {
    Q_OBJECT
public:
    explicit MenuBarWindow(MenuBarView* view);

    MenuBarView* view() const { return m_view; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    MenuBarView* m_view;
};

} // namespace kernwell
