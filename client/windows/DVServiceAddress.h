#pragma once

#include <QString>

// Whether a service address is configured before a window logs in: the "DocuvaneServerURL" setting, or
// the bundle's value for it (then stored, as at launch). Returns null when there is one, otherwise the
// message a window shows in place of a transport error (and logs the setting's name).
QString missingServiceAddressMessage();
