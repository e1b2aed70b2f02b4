#pragma once

#include "ui/KeyboardButton.h"

#include <optional>

namespace kernwell {

// The user's initial on a black circle. In the menu window it is the button
// that opens the account panel; in the panel it is only a picture.
class Avatar : public KeyboardButton {
    Q_OBJECT
public:
    Avatar(int diameter, QWidget* parent = nullptr);

    void setUsername(const std::optional<QString>& username);
    const QString& letter() const { return m_letter; }

    // The name shown for the user: the user name, or "Kernwell User" when
    // there is none (also when it is empty, as after a callback with an
    // empty e-mail).
    static QString displayName(const std::optional<QString>& username);
    // The first character of the shown name, upper-cased.
    static QString letterFor(const std::optional<QString>& username);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_diameter;
    QString m_letter;
};

} // namespace kernwell
