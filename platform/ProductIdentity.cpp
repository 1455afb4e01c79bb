#include "ProductIdentity.h"

#include <QtGlobal>

#include <optional>

namespace {

// Installed once at start, before other threads exist, and only read afterwards.
std::optional<ProductIdentity>& installed() {
    static std::optional<ProductIdentity> identity;
    return identity;
}

} // namespace

void ProductIdentity::install(const ProductIdentity& identity) {
    installed() = identity;
}

const ProductIdentity& ProductIdentity::current() {
    if (!installed())
        qFatal("No product identity installed: main must call ProductIdentity::install first.");
    return *installed();
}
