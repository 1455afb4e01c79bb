#pragma once

#include <QTimer>
#include <QWidget>

// A small spinning activity indicator: twelve spokes, one bright, turning while animating.
class DVActivityIndicator : public QWidget {
    Q_OBJECT

public:
    explicit DVActivityIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return _timer.isActive(); }

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer _timer;
    int _step = 0;
};
