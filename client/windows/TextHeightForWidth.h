#pragma once

#include <QString>

class QFont;

// The height of a text laid out in a font at a width (wrapping between words, or anywhere inside a word
// longer than the width), without padding: n lines measure n line heights. Empty text measures 0.
float textHeightForWidth(const QString& text, const QFont& font, float width);
