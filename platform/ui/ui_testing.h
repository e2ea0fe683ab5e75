// Access to the runtime's widgets for the runtime's own tests: they drive the
// real widgets (clicks, keys, grabs) where the public interface has no way in.
#pragma once

#include <QPoint>
#include <QWidget>

#include <string>

namespace ui::testing {

// The widget of an open window or of one of its controls; nullptr when closed.
QWidget* windowWidget(const std::string& window);
QWidget* controlWidget(const std::string& window, const std::string& control);
// Screen position the last pop-up menu was shown at (after fitting on screen).
QPoint lastPopupPosition();

}  // namespace ui::testing
