#include "TextHeightForWidth.h"

#include <QFont>
#include <QTextLayout>

float textHeightForWidth(const QString& text, const QFont& font, float width) {
    if (text.isEmpty())
        return 0.0f;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return static_cast<float>(height);
}
