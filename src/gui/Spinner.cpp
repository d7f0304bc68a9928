#include "gui/Spinner.h"

#include "foundation/Error.h"

#include <QPainter>

namespace {

constexpr int kSpokes = 12;

} // namespace

Spinner::Spinner(int diameter, QWidget *parent) : QWidget(parent), m_diameter(diameter)
{
    setFixedSize(diameter, diameter);
    setAccessibleName(localizedString("Busy"));
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
    hide();
}

void Spinner::startAnimation()
{
    m_timer.start();
    show();
}

void Spinner::stopAnimation()
{
    m_timer.stop();
    hide();
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal radius = m_diameter / 2.0;
    QColor colour = palette().color(QPalette::WindowText);
    QPen pen;
    pen.setWidthF(qMax(1.5, m_diameter / 10.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The newest spoke darkest, the others fading behind it.
        const int age = (m_step - i + kSpokes) % kSpokes;
        colour.setAlphaF(1.0 - age / qreal(kSpokes));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(i * 360.0 / kSpokes);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
}
