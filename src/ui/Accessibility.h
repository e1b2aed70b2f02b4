#pragma once

class QWidget;

namespace kernwell {

// What screen readers are told about the windows beyond what Qt's own widget
// classes say: links are links, images are images, the windows are frames,
// the account panel is a dialog, the notification list is a list of items
// (each its kind and text), and decorative pieces are left out. Installed
// once per process, before the first window is shown.
void installAccessibleRoles();

// Keeps `widget` (a decorative image, a divider) out of the accessible tree.
void hideFromAccessibility(QWidget* widget);

} // namespace kernwell
