#pragma once

#include <QTimer>
#include <QWidget>

// A small indeterminate progress spinner, hidden while it is stopped.
class Spinner : public QWidget
{
    Q_OBJECT
public:
    explicit Spinner(int diameter = 16, QWidget *parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_timer.isActive(); }

    QSize sizeHint() const override { return {m_diameter, m_diameter}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_diameter;
    int m_step = 0;
    QTimer m_timer;
};
