#include "DVFolderChooser.h"

#include "ClientSettings.h"
#include "DVStringTable.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

const QString DVFolderChooser::Title = QStringLiteral("Choose a new place to put your Docuvane Fetch.");

namespace {

class FileDialogFolderChooser : public DVFolderChooser {
public:
    void chooseFolder(const QString& title, QWidget* sheetOn, Completion completion) override {
        auto* dialog = new QFileDialog(sheetOn, title);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setDirectory(startFolder(ClientSettings::shared().fetchFolderPath()));
        dialog->setWindowModality(sheetOn ? Qt::WindowModal : Qt::NonModal);
        QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion](int result) {
            const QStringList chosen = dialog->selectedFiles();
            if (result == QDialog::Accepted && !chosen.isEmpty())
                completion(chosen.first());
            else
                completion(std::nullopt);
        });
        dialog->show();
    }
};

} // namespace

DVFolderChooser* DVFolderChooser::standard() {
    static FileDialogFolderChooser chooser;
    return &chooser;
}

QString DVFolderChooser::startFolder(const QString& fetchFolderPath) {
    if (!fetchFolderPath.isEmpty()) {
        const QString parent = QFileInfo(QDir::cleanPath(fetchFolderPath)).absolutePath();
        if (QFileInfo(parent).isDir())
            return parent;
    }
    return QDir::homePath();
}

QString DVFolderChooser::fetchFolderPathIn(const QString& folder) {
    return QDir::cleanPath(folder + QLatin1Char('/') + DVKey(QStringLiteral("Docuvane Fetch")));
}
