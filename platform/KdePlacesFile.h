#pragma once

#include "SharedFileList.h"

// KDE's places panel: an XBEL document whose top-level <bookmark href="…"> elements are the places, in
// order. Edits are made in the text itself, so everything else in the file (KDE's metadata, separators,
// elements and namespaces we do not know, comments, formatting) stays exactly as it was. A file that is
// not well-formed XBEL is left alone. The file is never created: it belongs to KDE, and only exists
// where KDE runs.
class KdePlacesFile : public SharedFileList {
public:
    explicit KdePlacesFile(QString path);

    bool load() override;
    void insertAtFront(const QUrl& url) override;
    void removeEntryAt(qsizetype index) override;

private:
    struct Range {
        qsizetype begin;
        qsizetype end;
    };

    void save() const;

    QString _path;
    bool _exists = false;
    QString _text;
    QList<Range> _bookmarks;
    qsizetype _rootEndTag = -1; // where "</xbel>" starts; -1 when the root element is empty ("<xbel/>")
};
