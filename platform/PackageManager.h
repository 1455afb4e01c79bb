#pragma once

#include <QString>
#include <QStringList>

// The Debian package system, asked and driven through its own programs. They are run by full path with a
// fixed environment, so that a caller running as root passes on nothing of whoever started it (no PATH, no
// LD_ variables, no locale that loads other files). The programs' paths are the system's unless the code
// that makes the object names others; nothing from outside the process can.
class PackageManager {
public:
    struct Programs {
        QString query = QStringLiteral("/usr/bin/dpkg-query");
        QString remove = QStringLiteral("/usr/bin/apt-get");
    };

    PackageManager();
    explicit PackageManager(Programs programs);

    // The packages that list the file or folder at the absolute path as theirs; none when no package does
    // or the package system cannot be asked.
    QStringList owners(const QString& path) const;

    // Removes an installed package without asking anything (its configuration files stay, as with any
    // removal that is not a purge). False when the package system refused or failed; then problem holds
    // what it said.
    bool remove(const QString& package, QString* problem) const;

private:
    Programs _programs;
};
