// A PostgreSQL server of the tests' own: Debian's postgresql package, a
// cluster made with initdb in a temporary folder and reached through a unix
// socket in that folder only. PostgreSQL refuses to run as root, so under
// root (CI) the cluster belongs to the package's "postgres" account (or
// "nobody") and its programs run through runuser. One server serves a whole
// test program: start it in initTestCase, it stops when destroyed.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PgServer {
  public:
    PgServer();
    ~PgServer();

    // initdb (once) and start; false with why() when it could not.
    bool start();
    // A fast stop: connections are dropped.
    bool stop();
    const QString& why() const { return why_; }

    QString socketFolder() const; // the "host" of a libpq connection
    int port() const { return port_; }
    static QString superUser() { return QStringLiteral("qs_admin"); }

    // Runs psql as the superuser on `database` with ON_ERROR_STOP, the
    // statements `sql` or, with a path, a script file; false with why().
    bool psql(const QString& database, const QString& sql);
    bool psqlFile(const QString& database, const QString& path);
    bool createDatabase(const QString& name);

  private:
    bool run(const QString& program, const QStringList& args, int timeoutMs,
             QString* output = nullptr);
    QString bin(const QString& name) const;

    QTemporaryDir dir_;
    QString binDir_;
    QString account_; // runs the server's programs under root, else empty
    int port_ = 0;
    bool made_ = false;
    bool running_ = false;
    QString why_;
};
