#pragma once

#include <QDialog>

#include <memory>

class UninstallController;
class QPushButton;

namespace Ui {
class UninstallWindow;
}

// The uninstaller's one window: what will be removed, OK and Cancel. Closing it counts as Cancel.
class UninstallWindow : public QDialog {
    Q_OBJECT

public:
    explicit UninstallWindow(UninstallController* controller, QWidget* parent = nullptr);
    ~UninstallWindow() override;

    QPushButton* okButton() const;
    QPushButton* cancelButton() const;

    void reject() override;

private:
    std::unique_ptr<Ui::UninstallWindow> _ui;
    UninstallController* _controller;
};
