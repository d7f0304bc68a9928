#pragma once

#include <QSize>

class QWidget;

// The first size of the program's windows. Here rather than in foundation
// (Qt Core only) because the sign-in window is the lowest window: the main
// window and its sheets sit above it and use the same rule.
namespace WindowFit {

// `wanted`, bounded by `available` less the title bar and borders a window
// manager adds, which are not known before the window is shown.
QSize initialSize(const QSize &wanted, const QSize &available);

// Resizes `window` to its first size on the screen it will show on, never
// below what its layout needs.
void resizeIntoScreen(QWidget *window, const QSize &wanted);

} // namespace WindowFit
