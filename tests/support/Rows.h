#pragma once

// One row of a data table: its name, then its columns in order (plain text fills a QString
// column), so that a table needs no forwarding helper of its own.

#include <QTest>

namespace TestSupport {

template <typename... Columns> void Row(const char *name, const Columns &...columns) {
    (QTest::newRow(name) << ... << columns);
}

} // namespace TestSupport
