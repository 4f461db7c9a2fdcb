// "Настройки истории": the choice between the local file and a server as the
// settings file has it, worked with the keyboard alone; a server without
// its host, database or user said and not saved; "Проверить соединение"
// answering off the window's thread in plain words that name the store; the
// server's password asked once per run.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include "Controls.h"
#include "HistorySettings.h"
#include "Keys.h"
#include "Profile.h"
#include "RecorderUi.h"

using History::Target;
Q_DECLARE_METATYPE(History::Target)

namespace {
// A port nothing listens on: the connection is refused at once.
constexpr int ClosedPort = 1;

Target Server(const QString& host, int port, bool ask = false) {
    Target t;
    t.backend = Target::Backend::Server;
    t.host = host;
    t.port = port;
    t.database = QStringLiteral("hist");
    t.user = QStringLiteral("ivanov");
    t.askPassword = ask;
    return t;
}

Target Local(const QString& file) {
    Target t;
    t.file = file;
    return t;
}
} // namespace

class TestHistorySettings : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    RecorderUi ui_;
    int n_ = 0;

    QString path(const QString& name) const { return dir_.filePath(name); }
    // A settings file of its own for each case.
    QString settingsPath() { return path(QStringLiteral("settings-%1.ini").arg(++n_)); }

    // Clicks "Проверить соединение" and waits for its answer.
    static QString Check(THistorySettings& w) {
        QSignalSpy done(&w, &THistorySettings::checked);
        Control<QPushButton>(w, "btCheck")->click();
        if (!done.wait(20000))
            return QStringLiteral("(no answer)");
        return w.checkText();
    }

  private slots:
    void init() {
        ui_.clear();
        ui_.passwords.clear(); // "Отмена" unless a case says otherwise
        ForgetRunPasswords();
    }

    void showsTheSettingsInForce_data() {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("ask");
        QTest::newRow("local file") << false << false;
        QTest::newRow("server, password file") << true << false;
        QTest::newRow("server, password asked") << true << true;
    }
    void showsTheSettingsInForce() {
        QFETCH(bool, server);
        QFETCH(bool, ask);
        Target t = Server(QStringLiteral("db.example"), 5433, ask);
        t.backend = server ? Target::Backend::Server : Target::Backend::Local;
        t.file = path(QStringLiteral("own.sqlite"));
        THistorySettings w(nullptr, t, ProfileFile(settingsPath()));
        QCOMPARE(Control<QRadioButton>(w, "rbServer")->isChecked(), server);
        QCOMPARE(Control<QRadioButton>(w, "rbLocal")->isChecked(), !server);
        QCOMPARE(Control<QWidget>(w, "pnServer")->isEnabled(), server);
        QCOMPARE(Control<QRadioButton>(w, "rbAskPassword")->isChecked(), ask);
        QCOMPARE(Control<QRadioButton>(w, "rbPgpass")->isChecked(), !ask);
        QVERIFY(Control<QLabel>(w, "lbFile")->text().contains(QDir::toNativeSeparators(t.file)));
        QCOMPARE(Control<QLabel>(w, "lbFile")->textFormat(), Qt::PlainText);
        QCOMPARE(Control<QLineEdit>(w, "edHost")->text(), t.host);
        QCOMPARE(Control<QSpinBox>(w, "sbPort")->value(), 5433);
        const Target shown = w.target();
        QCOMPARE(shown.backend, t.backend);
        QCOMPARE(shown.file, t.file);
        QCOMPARE(shown.askPassword, ask);
    }

    // From the local file to a server and back out, keys only: Enter (either
    // one) saves, Escape leaves the file as it was.
    void keyboardOnly_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("saved");
        QTest::newRow("Enter") << int(Qt::Key_Return) << true;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << true;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << false;
    }
    void keyboardOnly() {
        QFETCH(int, key);
        QFETCH(bool, saved);
        const QString file = settingsPath();
        THistorySettings w(nullptr, Local(path(QStringLiteral("own.sqlite"))), ProfileFile(file));
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* rbLocal = Control<QRadioButton>(w, "rbLocal");
        auto* rbServer = Control<QRadioButton>(w, "rbServer");
        QVERIFY(TabTo(rbLocal));
        Stroke(Qt::Key_Down); // the next choice of the pair
        QVERIFY(rbServer->isChecked());
        QVERIFY(TabTo(Control<QLineEdit>(w, "edHost")));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("db.example"));
        QVERIFY(TabTo(Control<QSpinBox>(w, "sbPort")));
        Stroke(Qt::Key_Up); // 5433
        QVERIFY(TabTo(Control<QLineEdit>(w, "edUser")));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ivanov"));
        QVERIFY(TabTo(Control<QRadioButton>(w, "rbPgpass")));
        Stroke(Qt::Key_Down);
        QVERIFY(Control<QRadioButton>(w, "rbAskPassword")->isChecked());
        QVERIFY(TabTo(Control<QLineEdit>(w, "edDatabase")));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("hist"));
        Stroke(static_cast<Qt::Key>(key));
        QVERIFY(!w.isVisible());
        QCOMPARE(w.result(), saved ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(QFile::exists(file), saved);
        QVERIFY(ui_.messages.isEmpty());
        if (!saved)
            return;
        const Target back = History::LoadTarget(ProfileFile(file));
        QCOMPARE(back.backend, Target::Backend::Server);
        QCOMPARE(back.host, QStringLiteral("db.example"));
        QCOMPARE(back.port, 5433);
        QCOMPARE(back.database, QStringLiteral("hist"));
        QCOMPARE(back.user, QStringLiteral("ivanov"));
        QVERIFY(back.askPassword);
    }

    // Tab visits the fields in the order they are read, then the buttons.
    void tabOrder() {
        THistorySettings w(nullptr, Server(QStringLiteral("h"), 5432), ProfileFile(settingsPath()));
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        Control<QLineEdit>(w, "edHost")->setFocus();
        QStringList order;
        for (int i = 0; i < 8; ++i) {
            Stroke(Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order.mid(0, 3), QStringList({"sbPort", "edDatabase", "edUser"}));
        // Each pair of choices is one stop, at the chosen one; the arrows
        // move within the pair.
        QCOMPARE(order, QStringList({"sbPort", "edDatabase", "edUser", "rbPgpass", "btCheck",
                                     "btOK", "btCancel", "rbServer"}));
    }

    void serverNeedsHostDatabaseAndUser_data() {
        QTest::addColumn<QString>("field");
        QTest::newRow("host") << "edHost";
        QTest::newRow("database") << "edDatabase";
        QTest::newRow("user") << "edUser";
    }
    void serverNeedsHostDatabaseAndUser() {
        QFETCH(QString, field);
        const QString file = settingsPath();
        THistorySettings w(nullptr, Server(QStringLiteral("db.example"), 5432), ProfileFile(file));
        Control<QLineEdit>(w, qPrintable(field))->setText(QStringLiteral("   "));
        Control<QPushButton>(w, "btOK")->click();
        QCOMPARE(ui_.texts(), QStringList{"Укажите сервер, базу данных и пользователя."});
        QVERIFY(w.result() != QDialog::Accepted);
        QVERIFY(!QFile::exists(file));
        // Nor is a connection tried.
        Control<QPushButton>(w, "btCheck")->click();
        QCOMPARE(ui_.messages.size(), 2);
        QVERIFY(w.checkText().isEmpty());
    }

    // The answer comes from a thread of its own: the window says it is
    // trying until then.
    void checkSaysWhetherItWorked_data() {
        QTest::addColumn<Target>("target");
        QTest::addColumn<QString>("answer");
        const QString own = path(QStringLiteral("checked.sqlite"));
        QTest::newRow("local file") << Local(own)
                                    << QStringLiteral("Соединение установлено: файл «%1».")
                                           .arg(QDir::toNativeSeparators(own));
        const QString junk = path(QStringLiteral("junk.sqlite"));
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("plain text, not a database, and longer than a header");
        f.close();
        QTest::newRow("not a database")
            << Local(junk)
            << QStringLiteral(
                   "Соединение не установлено: файл «%1».\nФайл истории «%1» не является "
                   "базой данных; он оставлен как есть.")
                   .arg(QDir::toNativeSeparators(junk));
        QTest::newRow("server not listening")
            << Server(QStringLiteral("127.0.0.1"), ClosedPort)
            << QStringLiteral("Соединение не установлено: сервер 127.0.0.1:1/hist.\n");
    }
    void checkSaysWhetherItWorked() {
        QFETCH(Target, target);
        QFETCH(QString, answer);
        THistorySettings w(nullptr, target, ProfileFile(settingsPath()));
        QSignalSpy done(&w, &THistorySettings::checked);
        Control<QPushButton>(w, "btCheck")->click();
        QVERIFY2(w.checkText().startsWith(QStringLiteral("Проверка соединения: ")),
                 qPrintable(w.checkText()));
        QVERIFY(!Control<QPushButton>(w, "btCheck")->isEnabled());
        QVERIFY(done.wait(20000));
        QVERIFY(Control<QPushButton>(w, "btCheck")->isEnabled());
        QVERIFY2(w.checkText().startsWith(answer), qPrintable(w.checkText()));
        QCOMPARE(Control<QLabel>(w, "lbCheck")->textFormat(), Qt::PlainText);
        QVERIFY(ui_.messages.isEmpty());
    }

    // The password box comes up once per run for a user on a server, both
    // after OK and after "Отмена", and the password is never saved.
    void passwordAskedOncePerRun_data() {
        QTest::addColumn<QStringList>("answers");
        QTest::newRow("OK") << QStringList{"s3cret"};
        QTest::newRow("Отмена") << QStringList{};
    }
    void passwordAskedOncePerRun() {
        QFETCH(QStringList, answers);
        ui_.passwords = answers;
        const QString file = settingsPath();
        THistorySettings w(nullptr, Server(QStringLiteral("127.0.0.1"), ClosedPort, true),
                           ProfileFile(file));
        QVERIFY(Check(w).startsWith(QStringLiteral("Соединение не установлено")));
        QVERIFY(Check(w).startsWith(QStringLiteral("Соединение не установлено")));
        QCOMPARE(ui_.passwordBoxes,
                 QStringList{"QS730_View|Пароль пользователя ivanov на сервере истории сервер "
                             "127.0.0.1:1/hist:"});
        const Target used = WithRunPassword(nullptr, w.target());
        QCOMPARE(used.password, answers.value(0));
        QCOMPARE(ui_.passwordBoxes.size(), 1);
        // Another user is asked for once too.
        Control<QLineEdit>(w, "edUser")->setText(QStringLiteral("petrov"));
        Check(w);
        QCOMPARE(ui_.passwordBoxes.size(), 2);

        Control<QPushButton>(w, "btOK")->click();
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray text = saved.readAll();
        QVERIFY(text.contains("AskPassword=1"));
        QVERIFY(!text.contains("s3cret"));
        QVERIFY(!text.contains("\nPassword="));
    }
};

QTEST_MAIN(TestHistorySettings)
#include "test_history_settings.moc"
