#pragma once

#include "DVNavigationView.h"

class DVFolderChooser;
class QAbstractButton;
class QButtonGroup;
class QLabel;
class QPlainTextEdit;

// The folder page: keep the fetch folder's place (row 0) or choose another (row 1, which enables the change
// button). The path field shows "dropboxFolderPath" and grows with its text, and the window with it.
class DVDropboxLocationView : public DVNavigationView {
    Q_OBJECT

public:
    explicit DVDropboxLocationView(QWidget* parent = nullptr);

    void setFields(QButtonGroup* matrix, QPlainTextEdit* dropboxFolderPath, QLabel* label,
                   QAbstractButton* changeButton);
    void awakeFromNib() override;
    void setFolderChooser(DVFolderChooser* chooser) { _chooser = chooser; }

    // The radio group's action.
    void chooseDropboxFolder();
    // The change button's action: the chosen folder + "Docuvane Fetch" is shown and stored.
    void changeDropboxFolder();
    void resizeDropboxPath();
    // Shows the stored path again, as a binding would.
    void reloadFromSettings();

    QPlainTextEdit* dropboxFolderPathField() const { return _dropboxFolderPath; }
    QAbstractButton* changeButton() const { return _changeButton; }
    QButtonGroup* matrix() const { return _matrix; }

private:
    QButtonGroup* _matrix = nullptr;
    QPlainTextEdit* _dropboxFolderPath = nullptr;
    QLabel* _label = nullptr;
    QAbstractButton* _changeButton = nullptr;
    DVFolderChooser* _chooser = nullptr;
};
