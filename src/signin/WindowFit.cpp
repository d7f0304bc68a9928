#include "signin/WindowFit.h"

#include <QScreen>
#include <QWidget>

namespace WindowFit {

QSize initialSize(const QSize &wanted, const QSize &available)
{
    return wanted.boundedTo(available - QSize(32, 48));
}

void resizeIntoScreen(QWidget *window, const QSize &wanted)
{
    const QScreen *screen = window->screen();
    const QSize size = screen ? initialSize(wanted, screen->availableGeometry().size()) : wanted;
    window->resize(size.expandedTo(window->minimumSizeHint()));
}

} // namespace WindowFit
