#include "ui/Backdrop.h"

#include <QMouseEvent>

namespace kernwell {

Backdrop::Backdrop(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_NoSystemBackground);
}

void Backdrop::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    emit clicked();
}

} // namespace kernwell
