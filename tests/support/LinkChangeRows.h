// The two modules a change of link is tried on: one that takes a new link at
// once, and one that answers at the old link until it is restarted. The
// tests of the module's configuration and of the link change share them.
#pragma once

#include <QtTest>

#include "SimModule.h"

struct LinkChangeRow {
    sim::LinkChange kind;
    const char* name;
};

inline constexpr LinkChangeRow LinkChangeRows[] = {
    {sim::LinkChange::AtOnce, "takes a new link at once"},
    {sim::LinkChange::AfterRestart, "takes it after a restart"},
};

// A test's data: the column "kind" and a row of each module.
inline void AddLinkChangeRows() {
    QTest::addColumn<sim::LinkChange>("kind");
    for (const LinkChangeRow& row : LinkChangeRows)
        QTest::newRow(row.name) << row.kind;
}
