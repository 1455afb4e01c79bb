#pragma once

#include <QLineEdit>

// A text field in which Control+X, C, V and A (exactly Control, no other modifier) cut, copy, paste and
// select all in whichever widget has the keyboard focus, whatever shortcuts the application defines.
// Everything else is a plain QLineEdit's.
class AXCVHandler : public QLineEdit {
    Q_OBJECT

public:
    using QLineEdit::QLineEdit;

    // Whether the key was one of the four and was handled.
    bool performKeyEquivalent(QKeyEvent* event);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    static const char* actionFor(const QKeyEvent* event);
};
