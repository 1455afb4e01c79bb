#pragma once

#include "Bundle.h"

#include <QString>

// Information-dictionary keys, exception names and a few fixed texts pass through the application's string
// table before use, so that a private build can rename them without touching the code. Settings keys go
// through ClientSettings instead.
inline QString DVKey(const QString& name) {
    return Bundle::mainBundle().localizedString(name);
}
