#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

// Asks the user for a folder. The windows reach the chooser only through this seam, so that tests answer
// it without a dialog.
class DVFolderChooser {
public:
    // The chooser's title in every window.
    static const QString Title;

    using Completion = std::function<void(const std::optional<QString>& folder)>;

    virtual ~DVFolderChooser() = default;

    // sheetOn: the window the chooser belongs to (it then blocks only that window), or null for a
    // free-standing chooser. The completion runs once, later, with the chosen folder or none.
    virtual void chooseFolder(const QString& title, QWidget* sheetOn, Completion completion) = 0;

    // The real chooser: a folders-only file dialog.
    static DVFolderChooser* standard();

    // Where a chooser opens: the folder that holds the fetch folder, or the home folder when the path is
    // empty or that folder is gone. The process's working directory means nothing to the user.
    static QString startFolder(const QString& fetchFolderPath);

    // A chosen folder with the fetch folder's name ("Docuvane Fetch" through the string table) appended.
    static QString fetchFolderPathIn(const QString& folder);
};
