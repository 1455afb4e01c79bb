#pragma once

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// Points HOME and the XDG folders at a fresh temporary folder for the lifetime of the object, so that no
// test reads or writes the real home. Made before anything reads the environment (the settings store and
// the logger take their paths on first use).
class TestHome {
public:
    TestHome() {
        const QString home = _dir.path();
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
        qputenv("XDG_STATE_HOME", QFile::encodeName(home + QStringLiteral("/.local/state")));
        QDir().mkpath(home + QStringLiteral("/.config"));
    }

    QString path() const { return _dir.path(); }
    QString configPath() const { return _dir.path() + QStringLiteral("/.config"); }

private:
    QTemporaryDir _dir;
};
