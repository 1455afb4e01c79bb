#include "DVPathFieldSizing.h"

#include "TextHeightForWidth.h"

#include <QLayout>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QtMath>

void preparePathField(QPlainTextEdit* field) {
    field->document()->setDocumentMargin(0);
    field->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    field->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    field->setTabChangesFocus(true);
    field->viewport()->setAutoFillBackground(false);
    field->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    field->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int fitPathFieldHeight(QPlainTextEdit* field, QWidget* window) {
    const float measured = textHeightForWidth(field->toPlainText(), field->font(), 0.9f * float(field->width()));
    const int newHeight = qCeil(measured * 17.0f / 16.0f);
    const int oldHeight = field->height();
    const int difference = newHeight - oldHeight;
    const QSize windowSize = window->size();
    // The field first: the window's layout would not let it shrink below the field's old height.
    field->setFixedHeight(newHeight);
    // Each layout from the field up to the window now, not at the posted requests: a window that keeps its
    // layout's size takes its new size from them.
    for (QWidget* holder = field->parentWidget(); holder; holder = holder->parentWidget()) {
        if (QLayout* layout = holder->layout()) {
            layout->invalidate();
            layout->activate();
        }
        if (holder == window)
            break;
    }
    window->resize(windowSize.width(), windowSize.height() + difference);
    return difference;
}
