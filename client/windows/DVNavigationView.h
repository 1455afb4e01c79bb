#pragma once

#include <QColor>
#include <QWidget>

class QAbstractButton;
class QLabel;

// One page of the setup assistant: Previous and Next buttons and a status line. The pages' order is fixed
// by previousView and nextView.
class DVNavigationView : public QWidget {
    Q_OBJECT

public:
    explicit DVNavigationView(QWidget* parent = nullptr);

    // Connects the page to its controls from the window's layout; then awakeFromNib() sets the page up.
    void setOutlets(QAbstractButton* previousButton, QAbstractButton* nextButton, QLabel* status);
    virtual void awakeFromNib();

    DVNavigationView* previousView() const { return _previousView; }
    DVNavigationView* nextView() const { return _nextView; }
    void setPreviousView(DVNavigationView* page) { _previousView = page; }
    void setNextView(DVNavigationView* page) { _nextView = page; }

    QAbstractButton* previousButton() const { return _previousButton; }
    QAbstractButton* nextButton() const { return _nextButton; }
    QLabel* statusField() const { return _status; }

    QString status() const;
    void setStatus(const QString& status);
    // An invalid colour is the normal text colour of the window.
    void setStatusColor(const QColor& color);
    QColor statusColor() const { return _statusColor; }

private:
    DVNavigationView* _previousView = nullptr;
    DVNavigationView* _nextView = nullptr;
    QAbstractButton* _previousButton = nullptr;
    QAbstractButton* _nextButton = nullptr;
    QLabel* _status = nullptr;
    QColor _statusColor;
};
