#include "DVDropboxLocationView.h"

#include "ClientSettings.h"
#include "DVFolderChooser.h"
#include "DVPathFieldSizing.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

DVDropboxLocationView::DVDropboxLocationView(QWidget* parent)
    : DVNavigationView(parent) {}

void DVDropboxLocationView::setFields(QButtonGroup* matrix, QPlainTextEdit* dropboxFolderPath, QLabel* label,
                                      QAbstractButton* changeButton) {
    _matrix = matrix;
    _dropboxFolderPath = dropboxFolderPath;
    _label = label;
    _changeButton = changeButton;
}

void DVDropboxLocationView::awakeFromNib() {
    DVNavigationView::awakeFromNib();
    preparePathField(_dropboxFolderPath);
    reloadFromSettings();
    // Whatever stores the path (the launch's default, a move), the field shows it, as a binding would.
    connect(&ClientSettings::shared(), &ClientSettings::changed, this, [this](ClientSettings::Key key) {
        if (key == ClientSettings::Key::FetchFolderPath)
            reloadFromSettings();
    });
    connect(_matrix, &QButtonGroup::idClicked, this, [this] { chooseDropboxFolder(); });
    connect(_changeButton, &QAbstractButton::clicked, this, [this] { changeDropboxFolder(); });
    _changeButton->setEnabled(false);
}

void DVDropboxLocationView::chooseDropboxFolder() {
    _changeButton->setEnabled(_matrix->checkedId() == 1);
}

void DVDropboxLocationView::changeDropboxFolder() {
    QPointer<DVDropboxLocationView> self(this);
    _chooser->chooseFolder(DVFolderChooser::Title, nullptr, [self](const std::optional<QString>& folder) {
        if (!self || !folder)
            return;
        const QString path = DVFolderChooser::fetchFolderPathIn(*folder);
        self->_dropboxFolderPath->setPlainText(path);
        ClientSettings::shared().setFetchFolderPath(path);
        self->resizeDropboxPath();
    });
}

void DVDropboxLocationView::resizeDropboxPath() {
    fitPathFieldHeight(_dropboxFolderPath, window());
    // Return finishes the assistant again once the chooser has closed.
    if (auto* next = qobject_cast<QPushButton*>(nextButton()))
        next->setDefault(true);
}

void DVDropboxLocationView::reloadFromSettings() {
    const QString path = ClientSettings::shared().fetchFolderPath();
    if (_dropboxFolderPath->toPlainText() == path)
        return;
    _dropboxFolderPath->setPlainText(path);
    fitPathFieldHeight(_dropboxFolderPath, window());
}
