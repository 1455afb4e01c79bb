#pragma once

#include <QColor>
#include <QDialog>

#include <functional>

class QLabel;
class QMessageBox;

// The top-level window of every window controller. It is made once and only hidden when closed. Closing
// (the close box, Escape, close()) asks the controller first; Return presses the window's default button.
class DVWindow : public QDialog {
    Q_OBJECT

public:
    explicit DVWindow(QWidget* parent = nullptr);

    // Asked before the window closes; false keeps it open. Without one the window always closes.
    void setShouldClose(std::function<bool()> shouldClose);

    // Centres the window on its screen, shows it in front and gives it the keyboard.
    void showInFront();

    // The colour of error messages in status lines.
    static QColor errorColor();
    // Sets a status line's text colour; an invalid colour is the window's normal text colour.
    static void setStatusColor(QLabel* status, const QColor& color);

    // Keeps a small window at the size its layout asks for: with that size as both its least and its
    // greatest, window managers offer neither resizing nor maximising, and the window follows its content
    // when a text in it changes.
    static void fitToContent(QWidget* window);

    // Gives a wrapping label the narrowest width that needs no more lines than `widest` does: the lines come
    // out about equally long, and no word is left alone on the last one.
    static void wrapEvenly(QLabel* label, int widest);

    // Keeps a line's height for a status line while it is empty, so that the window does not jump when it
    // speaks.
    static void reserveStatusLine(QLabel* status);

    // Keeps a message box at least this wide, so that a path in its text does not wrap into a narrow column.
    static void widenMessageBox(QMessageBox* box, int width);
    // Shows a message box's text and informative text as they are, never as markup: they carry file names
    // and the service's words. Called once the informative text is set.
    static void showTextsPlain(QMessageBox* box);

    // Escape is the close box.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<bool()> _shouldClose;
};
