#pragma once

#include "SharedFileList.h"

#include <QStringList>

// The user's login items: the XDG autostart entries ("*.desktop") of one folder, in file-name order (the
// folder has no order of its own, so the front of this list is only a name). An entry stands for the
// application bundle its Exec starts ("X.app" for ".../X.app/Contents/MacOS/x", else the program itself)
// and resolves while that program exists and the entry is enabled (not Hidden, not switched off with
// X-GNOME-Autostart-enabled=false). Entries are never rewritten: adding writes one new file, removing
// deletes one.
class AutostartFolder : public SharedFileList {
public:
    explicit AutostartFolder(QString folder);

    bool load() override;
    void insertAtFront(const QUrl& url) override;
    void removeEntryAt(qsizetype index) override;

    // The entry written for an application bundle or a program; empty when it has no program to start.
    static QByteArray entryTextFor(const QString& path);
    // The entry's file name: the application's name in lower case, with one '-' for each run of anything
    // but letters, digits, '.' and '_' ("Example App.app" -> "example-app.desktop").
    static QString entryFileNameFor(const QString& path);
    // The program a bundle or program path starts.
    static QString executableFor(const QString& path);
    // The bundle or program an Exec value's first argument stands for (see the class comment).
    static QString applicationForProgram(const QString& program);

private:
    QString _folder;
    QStringList _files; // the file of each entry
};
