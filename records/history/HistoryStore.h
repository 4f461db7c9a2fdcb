// The history database: a local SQLite file made on first use, or a shared
// PostgreSQL server that the technicians of a service organisation write to
// together. Entries are only ever added; every value is bound, never pasted
// into the SQL.
//
// A local file is made and brought up to the current schema here. A file of
// a newer schema, or one that is not a database, is left as it is, and the
// store refuses to write to it. The server's tables are made by its
// administrator with history-server.sql, which also grants the technicians'
// role the right to add entries and to read them, and nothing else.
#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

#include "HistoryEntry.h"

class ProfileFile;

namespace History {

// The schema this version of the tool writes.
constexpr int SchemaVersion = 2;

struct Target {
    enum class Backend { Local, Server };
    Backend backend = Backend::Local;
    QString file; // the SQLite file
    QString host;
    int port = 5432;
    QString database;
    QString user;
    // Asked once per run; empty: the server's own password file
    // (~/.pgpass, %APPDATA%\postgresql\pgpass.conf) or none.
    QString password;
    // The password is asked once per run rather than read from the
    // server's password file.
    bool askPassword = false;
    int connectTimeoutSeconds = 5;

    // "файл «…»" or "сервер host:port/database"
    QString text() const;
};

// The local file and the queue of entries waiting for the store, in the
// user's data folder.
QString DefaultLocalFile();
QString DefaultQueueFile();

// The section "History" of the tool's settings file: Server (0 the local
// file, 1 the server), File (read only: the local file, when not the
// default), Host, Port, Database, User, AskPassword (0 the server's password
// file, 1 asked once per run). The password is never written there.
Target LoadTarget(const ProfileFile& file);
void SaveTarget(ProfileFile& file, const Target& target);

// Tries the target as the history would use it (a local file is made if
// missing) and closes it again: empty when it took, else why not, in
// Russian. Blocks up to the target's connect timeout: call it off the
// window's thread.
QString Probe(const Target& target);

// A line of the fleet: one module as the history knows it.
struct ModuleRow {
    QString registration;
    int moduleType = 0;
    QString firmware;      // as the last connection read it
    QDate lastCalibration; // the last calibration recorded, else the module's own date
    int intervalMonths = DefaultIntervalMonths;
    QDate due;
    DueState state = DueState::Unknown;
    QDateTime lastSeen; // UTC; invalid when the tool never talked to it
    int entries = 0;
};

class Store {
  public:
    explicit Store(Target target);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const Target& target() const { return target_; }

    // Connects; a local file is made, or brought up to SchemaVersion. Throws
    // Exception saying why in Russian: the server is down or refuses the
    // login, the file is not a database, its schema is newer, the server has
    // no history tables.
    void open();
    bool isOpen() const;
    void close();
    int schemaVersion() const { return version_; }

    // Adds the entries that are not there yet (by uid), all in one
    // transaction; returns how many were new. Throws Exception.
    int add(const QList<Entry>& entries);

    // Every module with its due date on `today`, by registration number.
    QList<ModuleRow> fleet(const QDate& today);
    // One module's entries, oldest first.
    QList<Entry> moduleHistory(const QString& registration);
    // The interval in force for a module (set for it, else for its type,
    // else DefaultIntervalMonths) and the line of the fleet for it; nothing
    // when the history does not know the module.
    std::optional<ModuleRow> module(const QString& registration, const QDate& today);
    // Whether an entry with this uid is there.
    bool contains(const QString& uid);
    int count();

    // The file name and SHA-256 of every entry made from a file (import).
    bool hasFile(const QString& sha256);

  private:
    void openLocal();
    void openServer();
    void migrate();
    int readVersion();
    QList<ModuleRow> fleetRows(const QString& only, const QDate& today);

    Target target_;
    QString connection_;
    int version_ = 0;
    QString unreadable_; // why the schema's version could not be read
};

// Brings a local file of the first schema (or a new, empty one) up to
// `upTo`; for the tests of the migrations.
void MakeLocalSchema(const QString& connection, int upTo);

} // namespace History
