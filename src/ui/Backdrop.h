#pragma once

#include <QWidget>

namespace kernwell {

// An invisible layer over the whole menu window that takes the clicks beside
// the account panel; a click on it closes the panel.
class Backdrop : public QWidget {
    Q_OBJECT
public:
    explicit Backdrop(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace kernwell
