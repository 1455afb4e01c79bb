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
