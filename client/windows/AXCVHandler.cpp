#include "AXCVHandler.h"

#include <QKeyEvent>

const char* AXCVHandler::actionFor(const QKeyEvent* event) {
    // Control alone: Control with Shift, Alt or Meta is someone else's shortcut.
    if (event->modifiers() != Qt::ControlModifier)
        return nullptr;
    switch (event->key()) {
    case Qt::Key_X:
        return "cut";
    case Qt::Key_C:
        return "copy";
    case Qt::Key_V:
        return "paste";
    case Qt::Key_A:
        return "selectAll";
    default:
        return nullptr;
    }
}

bool AXCVHandler::performKeyEquivalent(QKeyEvent* event) {
    const char* action = actionFor(event);
    if (!action)
        return false;
    // The field's window's focus widget, which need not be this field.
    QWidget* target = window()->focusWidget();
    if (!target)
        target = this;
    return QMetaObject::invokeMethod(target, action);
}

bool AXCVHandler::event(QEvent* event) {
    // Claim the four keys before any shortcut of the window or the application sees them.
    if (event->type() == QEvent::ShortcutOverride && actionFor(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void AXCVHandler::keyPressEvent(QKeyEvent* event) {
    if (performKeyEquivalent(event)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
