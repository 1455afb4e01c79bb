#include "DVUpdaterWindow.h"

#include "Updater.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

DVUpdaterWindow::DVUpdaterWindow(Updater* updater, QWidget* parent)
    : QDialog(parent)
    , _updater(updater) {
    setWindowTitle(tr("Software Update"));
    _headline = new QLabel(this);
    QFont bold = _headline->font();
    bold.setBold(true);
    _headline->setFont(bold);
    _detail = new QLabel(this);
    _detail->setWordWrap(true);
    for (QLabel* label : {_headline, _detail})
        label->setTextFormat(Qt::PlainText);
    auto* buttons = new QDialogButtonBox(this);
    _skip = buttons->addButton(tr("Skip This Version"), QDialogButtonBox::ActionRole);
    _download = buttons->addButton(tr("Download…"), QDialogButtonBox::AcceptRole);
    _close = buttons->addButton(tr("Remind Me Later"), QDialogButtonBox::RejectRole);
    _download->setDefault(true);
    connect(_download, &QPushButton::clicked, this, [this] {
        _updater->openDownloadPage(_link);
        hide();
    });
    connect(_skip, &QPushButton::clicked, this, [this] {
        _updater->skipVersion(_version);
        hide();
    });
    connect(_close, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(_headline);
    layout->addWidget(_detail);
    layout->addWidget(buttons);
    setMinimumWidth(380);

    connect(updater, &Updater::updateFound, this, &DVUpdaterWindow::showUpdate);
    connect(updater, &Updater::noUpdateFound, this, &DVUpdaterWindow::showUpToDate);
    connect(updater, &Updater::checkFailed, this, &DVUpdaterWindow::showFailure);
}

void DVUpdaterWindow::reject() {
    // Closing the window or Escape postpones as the button does; it says "OK" when there is nothing to postpone.
    if (!_version.isEmpty())
        _updater->remindLater(_version);
    QDialog::reject();
}

QString DVUpdaterWindow::headline() const {
    return _headline->text();
}

QString DVUpdaterWindow::detail() const {
    return _detail->text();
}

void DVUpdaterWindow::showUpdate(const QString& version, const QString& shortVersion, const QUrl& link) {
    _link = link;
    _version = version;
    const QString shown = shortVersion.isEmpty() || shortVersion == version
                              ? version
                              : QStringLiteral("%1 (%2)").arg(shortVersion, version);
    present(tr("A new version of Docuvane Fetch is available"),
            tr("Docuvane Fetch %1 is available; you have %2. The download page shows how to install it.")
                .arg(shown, _updater->currentVersion()),
            true);
}

void DVUpdaterWindow::showUpToDate() {
    present(tr("You're up to date"),
            tr("Docuvane Fetch %1 is the newest version available.").arg(_updater->currentVersion()), false);
}

void DVUpdaterWindow::showFailure(const QString& message) {
    present(tr("Update check failed"), message, false);
}

void DVUpdaterWindow::present(const QString& headline, const QString& detail, bool offersDownload) {
    _headline->setText(headline);
    _detail->setText(detail);
    _download->setVisible(offersDownload);
    _skip->setVisible(offersDownload);
    _close->setText(offersDownload ? tr("Remind Me Later") : tr("OK"));
    if (!offersDownload) {
        _link = QUrl();
        _version.clear();
    }
    show();
    raise();
    activateWindow();
}
