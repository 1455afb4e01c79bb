#include "DVDropboxMissingWarning.h"

#include "ClientSettings.h"
#include "DVFolderChooser.h"
#include "DVStringTable.h"
#include "DVWindow.h"
#include "DVWindowDelegates.h"
#include "ui_DVDropboxMissingWarning.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

const QString DVDropboxMissingWarning::MessageFormat = QStringLiteral(
    "Your Docuvane Fetch folder has been moved, deleted or renamed.  Docuvane Fetch will not work properly until "
    "it is restored to its original location and name.  It used to be located at:\r\r  %@.\r\rTo restore it to "
    "its original location, click \"Quit\" below, and move it back to its original location.  You will then need "
    "to relaunch the Docuvane Fetch desktop application which is in you application folder.\r\rIf you would like "
    "to create a new Docuvane Fetch Folder, click \"Create New Docuvane Fetch Folder\"");

DVDropboxMissingWarning::DVDropboxMissingWarning(QObject* delegate)
    : _delegate(delegate)
    , _window(std::make_unique<DVWindow>())
    , _ui(std::make_unique<Ui::DVDropboxMissingWarning>())
    , _chooser(DVFolderChooser::standard()) {
    _ui->setupUi(_window.get());
    const int iconSize = _window->style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    _ui->_icon->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    _ui->_icon->setPixmap(_window->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(iconSize));
    _ui->_create->setDefault(true);
    // Room around the words: the style's own margin leaves a long title touching the frame.
    for (QPushButton* button : {_ui->_remind, _ui->_quit, _ui->_select, _ui->_create})
        button->setMinimumWidth(button->sizeHint().width() + 3 * button->fontMetrics().averageCharWidth());
    DVWindow::fitToContent(_window.get());
    connect(_ui->_quit, &QAbstractButton::clicked, this, [this] { quit(); });
    connect(_ui->_create, &QAbstractButton::clicked, this, [this] { chooseDropboxFolder(); });
    connect(_ui->_select, &QAbstractButton::clicked, this, [this] { selectFolder(); });
    connect(_ui->_remind, &QAbstractButton::clicked, this, [this] { remindMeLater(); });
}

DVDropboxMissingWarning::~DVDropboxMissingWarning() = default;

QDialog* DVDropboxMissingWarning::window() const {
    return _window.get();
}

void DVDropboxMissingWarning::showWindow() {
    const QString path = ClientSettings::shared().fetchFolderPath();
    // The one "%@" is replaced once, so a path holding "%@" itself is shown as it is.
    QString format = DVKey(MessageFormat);
    const qsizetype at = format.indexOf(QStringLiteral("%@"));
    _messageText = at < 0 ? format : format.replace(at, 2, path);
    // "\r" ends a line in the message; a label breaks lines at "\n".
    _ui->_message->setText(QString(_messageText).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    _window->showInFront();
}

void DVDropboxMissingWarning::quit() {
    QCoreApplication::quit();
}

void DVDropboxMissingWarning::chooseDropboxFolder() {
    QPointer<DVDropboxMissingWarning> self(this);
    _chooser->chooseFolder(DVFolderChooser::Title, _window.get(), [self](const std::optional<QString>& folder) {
        if (!self || !folder)
            return;
        self->_window->hide();
        if (auto* receiver = dynamic_cast<DVDropboxMissingDelegate*>(self->_delegate))
            receiver->dropboxFolderMoved(DVFolderChooser::fetchFolderPathIn(*folder));
    });
}

void DVDropboxMissingWarning::selectFolder() {
    QPointer<DVDropboxMissingWarning> self(this);
    _chooser->chooseFolder(DVFolderChooser::Title, nullptr, [self](const std::optional<QString>& folder) {
        if (!self || !folder)
            return;
        const QString name = QFileInfo(QDir::cleanPath(*folder)).fileName();
        if (name != DVKey(QStringLiteral("Docuvane Fetch"))) {
            invalidFolderAlert(name)->exec();
            return;
        }
        self->_window->hide();
        if (auto* receiver = dynamic_cast<DVDropboxMissingDelegate*>(self->_delegate))
            receiver->dropboxFolderSelected(*folder);
    });
}

void DVDropboxMissingWarning::remindMeLater() {
    _window->hide();
    if (auto* receiver = dynamic_cast<DVDropboxMissingDelegate*>(_delegate))
        receiver->dropboxFolderRemind();
}

std::unique_ptr<QMessageBox> DVDropboxMissingWarning::invalidFolderAlert(const QString& folderName) {
    auto alert = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("Docuvane Fetch"),
                                               QStringLiteral("Docuvane Drop"), QMessageBox::Ok);
    alert->setInformativeText(QStringLiteral("Invalid Docuvane Drop Folder: %1").arg(folderName));
    DVWindow::showTextsPlain(alert.get());
    alert->setWindowModality(Qt::ApplicationModal);
    // Wide enough that the folder's name stays on the line of its explanation.
    DVWindow::widenMessageBox(alert.get(), 340);
    return alert;
}
