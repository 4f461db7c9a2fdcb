// Cases the history's tests run against every store they have (a local file,
// a server of their own): the same entries must come back the same from each.
#pragma once

#include <QJsonArray>
#include <QTest>

#include "HistoryEntry.h"
#include "HistoryStore.h"

namespace HistoryCases {

// Text a field may hold that must neither break the SQL nor be changed on
// the way: quotes, a statement of its own, a comment, backslashes, line
// breaks, tabs, Cyrillic, emoji, a percent sign and a question mark (ODBC's
// placeholder), a long line.
inline QStringList HostileTexts() {
    return {
        QStringLiteral("A0042'; DROP TABLE entries; --"),
        QStringLiteral("\"); DELETE FROM entries WHERE (\"1\"=\"1"),
        QStringLiteral("Robert'); UPDATE schema_version SET version = 99;--"),
        QStringLiteral("line 1\nline 2\r\n\ttab \\ back\\slash"),
        QStringLiteral("Иванов И. И. «Поверка» — №5 😀 100% ? :name $1"),
        QString(4000, QLatin1Char('x')),
    };
}

// One entry of each kind, with details as each is recorded.
inline QList<History::Entry> EveryKind(const QString& registration) {
    using namespace History;
    QList<Entry> out;
    const QList<Kind> kinds = {Kind::Seen,        Kind::Calibration,    Kind::Check,
                               Kind::ConfigSaved, Kind::ConfigCompared, Kind::ConfigWritten,
                               Kind::Passport,    Kind::Link,           Kind::Restarts,
                               Kind::Interval};
    int n = 0;
    for (Kind k : kinds) {
        Entry e = NewEntry(k, registration, 17, QStringLiteral("Петров П. П."));
        e.made = QDateTime(QDate(2026, 3, 1 + n), QTime(8, n, 30, 250), Qt::UTC);
        e.summary = KindText(k) + QStringLiteral(" %1").arg(n);
        QJsonObject d;
        d[QStringLiteral("n")] = n;
        d[QStringLiteral("text")] = QStringLiteral("«значение» %1").arg(n);
        if (k == Kind::Calibration) {
            QJsonArray points;
            points.append(QJsonObject{{QStringLiteral("range"), QStringLiteral("current")},
                                      {QStringLiteral("nominal"), 2000},
                                      {QStringLiteral("error"), -1.5}});
            d[QStringLiteral("asFound")] = points;
            d[QStringLiteral("before")] = QJsonArray{1, 2, 3, 4};
            e.fileName = QStringLiteral("/home/tech/Протокол_A0042_20260301_0800.pdf");
            e.fileSha256 = Sha256Hex("pdf");
        }
        if (k == Kind::Interval)
            d[QStringLiteral("months")] = 6;
        e.details = d;
        if (n == 4)
            e.corrects = out.first().uid;
        out.append(e);
        ++n;
    }
    return out;
}

// Adds every kind, reads them back, and adds them again: nothing twice.
inline void RoundTrip(History::Store& store, const QString& registration) {
    const auto entries = EveryKind(registration);
    const int before = store.count();
    QCOMPARE(store.add(entries), entries.size());
    QCOMPARE(store.add(entries), 0);
    QCOMPARE(store.count(), before + entries.size());
    const auto back = store.moduleHistory(registration);
    QCOMPARE(back.size(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(History::KindKey(back[i].kind), History::KindKey(entries[i].kind));
        QCOMPARE(back[i].made, entries[i].made);
        QCOMPARE(back[i].details, entries[i].details);
        QVERIFY2(back[i] == entries[i], qPrintable(back[i].uid));
    }
}

// Every hostile text in every text field comes back as it went.
inline void HostileRoundTrip(History::Store& store) {
    using namespace History;
    for (const QString& text : HostileTexts()) {
        Entry e = NewEntry(Kind::ConfigSaved, text, 17, text);
        e.pc = text;
        e.summary = text;
        e.fileName = text;
        e.corrects = text;
        e.details = QJsonObject{{QStringLiteral("content"), text}};
        QCOMPARE(store.add({e}), 1);
        const auto back = store.moduleHistory(text);
        QCOMPARE(back.size(), 1);
        QVERIFY(back.first() == e);
    }
    // The tables are all still there and the schema untouched.
    store.close();
    store.open();
    QCOMPARE(store.schemaVersion(), SchemaVersion);
    QVERIFY(store.count() >= HostileTexts().size());
}

} // namespace HistoryCases
