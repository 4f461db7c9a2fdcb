// The tests' own PostgreSQL server made ready for the history: the database
// "history" made from the schema script the package ships, as a service
// organisation's IT would.
#pragma once

#include "HistoryStore.h"
#include "PgServer.h"

#ifndef QS_SOURCE_DIR
#error "QS_SOURCE_DIR names the sources, where the schema script is"
#endif

namespace HistoryServer {

// Starts `server`, makes the database and runs `roles` (statements that
// create the login roles a test needs) in it; false with server.why().
inline bool Prepare(PgServer& server, const QString& roles = {}) {
    const QString db = QStringLiteral("history");
    return server.start() && server.createDatabase(db) &&
           server.psqlFile(db,
                           QStringLiteral(QS_SOURCE_DIR "/records/history/history-server.sql")) &&
           (roles.isEmpty() || server.psql(db, roles));
}

// The history on `server`, reached as `user`.
inline History::Target Target(const PgServer& server, const QString& user) {
    History::Target t;
    t.backend = History::Target::Backend::Server;
    t.host = server.socketFolder();
    t.port = server.port();
    t.database = QStringLiteral("history");
    t.user = user;
    return t;
}

} // namespace HistoryServer
