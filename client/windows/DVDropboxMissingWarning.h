#pragma once

#include <QObject>

#include <memory>

class DVFolderChooser;
class DVWindow;
class QDialog;
class QMessageBox;

namespace Ui {
class DVDropboxMissingWarning;
}

// Shown when the fetch folder has been moved, deleted or renamed: says where it was and offers to quit,
// create a new folder, select an existing one or remind later. The folder work is the delegate's.
class DVDropboxMissingWarning : public QObject {
    Q_OBJECT

public:
    // The message, with "%@" for the folder's last known path; "\r" ends a line.
    static const QString MessageFormat;

    // delegate: receives the DVDropboxMissingDelegate reports when it adopts them.
    explicit DVDropboxMissingWarning(QObject* delegate);
    ~DVDropboxMissingWarning() override;

    void showWindow();
    QDialog* window() const;
    QObject* delegate() const { return _delegate; }
    // The message as last built, "\r" and all.
    QString message() const { return _messageText; }

    // Actions.
    void quit();
    void chooseDropboxFolder();
    void selectFolder();
    void remindMeLater();

    void setFolderChooser(DVFolderChooser* chooser) { _chooser = chooser; }
    // The alert for a chosen folder with another name.
    static std::unique_ptr<QMessageBox> invalidFolderAlert(const QString& folderName);

private:
    QObject* const _delegate;
    std::unique_ptr<DVWindow> _window;
    std::unique_ptr<Ui::DVDropboxMissingWarning> _ui;
    DVFolderChooser* _chooser;
    QString _messageText;
};
