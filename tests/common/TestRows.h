#pragma once

#include <QTest>

// One row of a data-driven test: its name, then one value per column, in column order.
template <typename... T> void row(const char* name, const T&... values) {
    (QTest::newRow(name) << ... << values);
}
