#pragma once

#include <QObject>

namespace kernwell {

// The menu-bar extra as the application shell drives it: where the desktop
// gives the popup no place (no tray, or Wayland), its content opens as a
// window of its own when the user launches the application again.
class MenuBarScene : public QObject {
public:
    using QObject::QObject;
    ~MenuBarScene() override = default;

    virtual bool opensAsWindow() const = 0;
    // Shows the content's window and brings it forward; opensAsWindow() only.
    virtual void openWindow() = 0;
};

} // namespace kernwell
