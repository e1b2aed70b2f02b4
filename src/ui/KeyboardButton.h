#pragma once

#include <QAbstractButton>

namespace kernwell {

// The windows' own buttons: reachable with Tab (a click doesn't move the
// focus ring onto them) and pressed with Space, Return or Enter, as users
// press a focused link or button either way. Each draws its focus ring
// inside its own rectangle, so that nothing clips it.
class KeyboardButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit KeyboardButton(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace kernwell
