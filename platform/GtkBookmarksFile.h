#pragma once

#include "SharedFileList.h"

#include <QByteArrayList>

// The GTK file chooser's and file managers' sidebar places: one "URI[ label]" per line, the first line
// first in the sidebar, URIs percent-encoded. Lines are kept byte for byte, labels and entries we cannot
// resolve (remote places, missing folders) included; only the line added or removed changes.
class GtkBookmarksFile : public SharedFileList {
public:
    explicit GtkBookmarksFile(QString path);

    bool load() override;
    void insertAtFront(const QUrl& url) override;
    void removeEntryAt(qsizetype index) override;

private:
    void save() const;

    QString _path;
    QByteArrayList _lines;
    QList<qsizetype> _entryLines; // the line of each entry
};
