#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;
class Updater;

// The updater's window: "A new version of Docuvane Fetch is available" with the version and "Skip This
// Version" / "Remind Me Later" / "Download…", or "You're up to date", or why a check failed. Made once and
// reused; it follows the updater's signals on its own and hands the user's answer back to the updater.
class DVUpdaterWindow : public QDialog {
    Q_OBJECT

public:
    explicit DVUpdaterWindow(Updater* updater, QWidget* parent = nullptr);

    QString headline() const;
    QString detail() const;
    QPushButton* downloadButton() const { return _download; }
    QPushButton* closeButton() const { return _close; }
    QPushButton* skipButton() const { return _skip; }
    QUrl link() const { return _link; }

    void showUpdate(const QString& version, const QString& shortVersion, const QUrl& link);
    void showUpToDate();
    void showFailure(const QString& message);
    void reject() override;

private:
    void present(const QString& headline, const QString& detail, bool offersDownload);

    Updater* _updater;
    QLabel* _headline;
    QLabel* _detail;
    QPushButton* _download;
    QPushButton* _close;
    QPushButton* _skip;
    QUrl _link;
    QString _version;
};
