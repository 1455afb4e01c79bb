#pragma once

class QPlainTextEdit;
class QWidget;

// Fits a read-only path field's height to its text and grows or shrinks its window by the same amount:
// the text measured in the field's font at 0.9 of its width, times 17/16. Returns the height difference.
int fitPathFieldHeight(QPlainTextEdit* field, QWidget* window);

// Sets up a path field: no margins, no background of its own, wrapping inside long folder names.
void preparePathField(QPlainTextEdit* field);
