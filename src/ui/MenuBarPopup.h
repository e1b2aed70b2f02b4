#pragma once

#include <QElapsedTimer>
#include <QWidget>

namespace kernwell {

class MenuBarView;

// The window-style popup under the tray icon. It closes when it loses focus
// or on Escape.
class MenuBarPopup : public QWidget {
    Q_OBJECT
public:
    explicit MenuBarPopup(MenuBarView* view);

    MenuBarView* view() const { return m_view; }
    // Whether it closed itself on focus loss a moment ago: the click on the
    // tray icon that took the focus must not open it again at once.
    bool closedMomentsAgo() const;

signals:
    // Its content changed size (signing in or out while it is open).
    void resized();

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    MenuBarView* m_view;
    QElapsedTimer m_closedOnFocusLoss;
};

} // namespace kernwell
