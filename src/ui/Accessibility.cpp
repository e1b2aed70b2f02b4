#include "ui/Accessibility.h"

#include "ui/ImageButton.h"
#include "ui/ImageView.h"
#include "ui/NotificationList.h"
#include "ui/NotificationRow.h"
#include "ui/TextButton.h"

#include <QAccessibleWidget>

namespace kernwell {

namespace {

constexpr const char* hiddenProperty = "kernwellHiddenFromAccessibility";

bool isHidden(const QWidget* widget)
{
    return widget->property(hiddenProperty).toBool();
}

// A widget whose children, less the hidden ones, are its accessible children.
class AccessibleContainer : public QAccessibleWidget {
public:
    AccessibleContainer(QWidget* widget, QAccessible::Role role)
        : QAccessibleWidget(widget, role)
    {
    }

    int childCount() const override { return static_cast<int>(children().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> shown = children();
        return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown.at(index)) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? static_cast<int>(children().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
    }

protected:
    virtual QList<QWidget*> children() const
    {
        QList<QWidget*> result;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow() && !isHidden(child)) {
                result.append(child);
            }
        }
        return result;
    }
};

// The list's children are its rows, whatever widgets scroll them.
class AccessibleList : public AccessibleContainer {
public:
    explicit AccessibleList(NotificationList* list)
        : AccessibleContainer(list, QAccessible::List)
    {
    }

protected:
    QList<QWidget*> children() const override
    {
        const auto& rows = static_cast<NotificationList*>(widget())->rows();
        return { rows.begin(), rows.end() };
    }
};

// A row is read whole (kind and text); its symbol and text are its picture.
class AccessibleListItem : public QAccessibleWidget {
public:
    explicit AccessibleListItem(NotificationRow* row)
        : QAccessibleWidget(row, QAccessible::ListItem)
    {
    }

    QAccessibleInterface* parent() const override
    {
        for (QWidget* ancestor = widget()->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
            if (qobject_cast<NotificationList*>(ancestor)) {
                return QAccessible::queryAccessibleInterface(ancestor);
            }
        }
        return QAccessibleWidget::parent();
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

// A text or image button with the role of what it does; pressed like any button.
class AccessibleButton : public QAccessibleWidget {
public:
    AccessibleButton(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role)
    {
        addControllingSignal(QStringLiteral("clicked(bool)"));
    }

    QString text(QAccessible::Text kind) const override
    {
        const QString text = QAccessibleWidget::text(kind);
        return kind == QAccessible::Name && text.isEmpty() ? button()->text() : text;
    }
    QStringList actionNames() const override { return QStringList { pressAction() } + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override
    {
        if (action == pressAction()) {
            if (button()->isEnabled()) {
                button()->click();
            }
            return;
        }
        QAccessibleWidget::doAction(action);
    }
    QStringList keyBindingsForAction(const QString& action) const override
    {
        return action == pressAction() ? QStringList { QStringLiteral("Space"), QStringLiteral("Return") }
                                       : QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* interfaceFor(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    if (auto* button = qobject_cast<TextButton*>(widget); button && className == QLatin1String("kernwell::TextButton")) {
        return new AccessibleButton(button, button->isLink() ? QAccessible::Link : QAccessible::PushButton);
    }
    if (auto* image = qobject_cast<ImageButton*>(widget); image && className == QLatin1String("kernwell::ImageButton")) {
        return new AccessibleButton(image, QAccessible::Link);
    }
    if (className == QLatin1String("kernwell::ImageView")) {
        return new QAccessibleWidget(widget, QAccessible::Graphic);
    }
    if (className == QLatin1String("kernwell::ShrinkingLabel")) {
        return new QAccessibleWidget(widget, QAccessible::StaticText);
    }
    if (auto* list = qobject_cast<NotificationList*>(widget); list && className == QLatin1String("kernwell::NotificationList")) {
        return new AccessibleList(list);
    }
    if (auto* row = qobject_cast<NotificationRow*>(widget); row && className == QLatin1String("kernwell::NotificationRow")) {
        return new AccessibleListItem(row);
    }
    if (className == QLatin1String("kernwell::UserModal")) {
        return new AccessibleContainer(widget, QAccessible::Dialog);
    }
    // The windows, and the views that hold dividers and decorative images.
    if (widget->isWindow() && (className == QLatin1String("QWidget") || className.startsWith(QLatin1String("kernwell::")))) {
        return new AccessibleContainer(widget, QAccessible::Window);
    }
    if (className == QLatin1String("kernwell::SignedInView") || className == QLatin1String("kernwell::SignedOutView")) {
        return new AccessibleContainer(widget, QAccessible::Client);
    }
    return nullptr;
}

} // namespace

void installAccessibleRoles()
{
    QAccessible::installFactory(&interfaceFor);
}

void hideFromAccessibility(QWidget* widget)
{
    widget->setProperty(hiddenProperty, true);
}

} // namespace kernwell
