#include "UninstallWindow.h"

#include "UninstallController.h"
#include "ui_UninstallWindow.h"

#include <QPushButton>

UninstallWindow::UninstallWindow(UninstallController* controller, QWidget* parent)
    : QDialog(parent)
    , _ui(std::make_unique<Ui::UninstallWindow>())
    , _controller(controller) {
    _ui->setupUi(this);
    okButton()->setText(tr("Uninstall"));
    cancelButton()->setDefault(true);
    connect(_ui->_buttons, &QDialogButtonBox::accepted, this, [this] {
        // The password request comes from the system; the window only waits for it.
        _ui->_buttons->setEnabled(false);
        _controller->okButton();
    });
    connect(_ui->_buttons, &QDialogButtonBox::rejected, this, &UninstallWindow::reject);
}

UninstallWindow::~UninstallWindow() = default;

QPushButton* UninstallWindow::okButton() const {
    return _ui->_buttons->button(QDialogButtonBox::Ok);
}

QPushButton* UninstallWindow::cancelButton() const {
    return _ui->_buttons->button(QDialogButtonBox::Cancel);
}

void UninstallWindow::reject() {
    // The window stays until the application ends, so that nothing looks finished before it is.
    _controller->cancelButton();
}
