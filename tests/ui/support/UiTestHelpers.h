#pragma once

#include "ui/ServicePages.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <QWidget>

namespace kernwell::test {

inline ServicePages testPages()
{
    return { QUrl(QStringLiteral("https://kernwell.test/authorize")), QUrl(QStringLiteral("https://kernwell.test/browse")),
        QUrl(QStringLiteral("https://kernwell.test/support")), QUrl(QStringLiteral("https://kernwell.test/library")),
        QUrl(QStringLiteral("https://kernwell.test/signup")) };
}

// The control or text with exactly this text that the user can see now.
template<typename T = QAbstractButton>
T* shown(QWidget* root, const QString& text)
{
    const auto candidates = root->findChildren<T*>();
    for (T* widget : candidates) {
        if (widget->text() == text && widget->isVisibleTo(root->window())) {
            return widget;
        }
    }
    return nullptr;
}

// Clicks whatever the user would hit at `pos` of `root`.
inline void clickAt(QWidget* root, QPoint pos)
{
    QWidget* target = root->childAt(pos);
    if (!target) {
        target = root;
    }
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(root, pos));
}

inline QPoint centreIn(QWidget* root, QWidget* widget)
{
    return widget->mapTo(root, widget->rect().center());
}

} // namespace kernwell::test
