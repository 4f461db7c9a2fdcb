// Changing the simulated module's own address, speed or parity in the service
// dialog, through the real library: the module is never stranded, and after
// "Да" the tool follows it and saves the new link; after "Нет" nothing on the
// PC side changes.
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "Compar.h"
#include "Controls.h"
#include "Func.h"
#include "LinkChangeRows.h"
#include "Modulparams.h"
#include "Profile.h"
#include "RecorderUi.h"
#include "SimLink.h"

namespace {

class AnsweringPassword : public QDialog {
  public:
    explicit AnsweringPassword(int result) : result_(result) {}
    int exec() override { return result_; }

  private:
    int result_;
};

QByteArray FileBytes() {
    QFile f(SettingsFilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Key(const char* section, const char* key) {
    return ProfileFile(SettingsFilePath()).readString(section, key, QStringLiteral("-"));
}

using Kind = sim::LinkChange;

// When the port settings come up for the search: records what they hold
// ("A0042|5": the number and the address filled in) as a message, and
// closes them.
void RecordSearch(RecorderUi& rec) {
    QTimer::singleShot(0, [&rec] {
        auto* port = qobject_cast<TParCOM*>(QApplication::activeModalWidget());
        QVERIFY(port);
        rec.message(nullptr,
                    Control<QComboBox>(port, "cbSerNumAlpha")->currentText() +
                        Control<QLineEdit>(port, "edNumber")->text().rightJustified(4, '0') + "|" +
                        Control<QLineEdit>(port, "edAddress")->text(),
                    QString(), seam::Icon::None);
        port->reject();
    });
}

const QString MovedAlready =
    QStringLiteral("\nМодуль уже перешёл на них: если нажать «Нет», программа останется на "
                   "прежних параметрах связи (19200 бод, Even, адрес 1) и не сможет связаться с "
                   "модулем.");

} // namespace

class TestModParsLinkSim : public QObject {
    Q_OBJECT

    QString status_;
    std::unique_ptr<SimLink> link_;
    std::unique_ptr<AnsweringPassword> password_;
    std::unique_ptr<TModPars> dialog_;

    // A module at 19200, even, address 1 with the tool talking to it, and the
    // dialog with what it read from the module.
    sim::SimModule& start(Kind kind, bool passport) {
        link_ = std::make_unique<SimLink>(sim::Options{.linkChange = kind});
        link_->writeSettingsFile(SettingsFilePath());
        password_ = std::make_unique<AnsweringPassword>(passport ? 1 : 7);
        dialog_ = std::make_unique<TModPars>(nullptr, password_.get());
        dialog_->btReadClick();
        link_->module().clearRequests();
        return link_->module();
    }
    void write(int address, int baud, const QString& parity) {
        Control<QLineEdit>(*dialog_, "edAdress")->setText(QString::number(address));
        Control<QComboBox>(*dialog_, "cbSpeed")->setCurrentText(QString::number(baud));
        Control<QComboBox>(*dialog_, "cbParity")->setCurrentText(parity);
        Control<QPushButton>(*dialog_, "btWrite")->click();
    }

  private slots:
    void init() {
        LinkStateSink = [this](const QString& s) { status_ = s; };
    }
    void cleanup() {
        dialog_.reset();
        link_.reset();
        LinkStateSink = nullptr;
        QFile::remove(SettingsFilePath());
    }

    void followsTheModuleAfterYes_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("passport");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("parity");
        for (const auto& [kind, kindName] : LinkChangeRows)
            for (const bool passport : {true, false}) {
                const QString name = QString(kindName) + (passport ? ", passport" : "");
                auto row = [&](const char* what) {
                    return &QTest::newRow(qPrintable(name + ", " + what));
                };
                *row("address") << kind << passport << 5 << 19200 << "Even";
                *row("speed") << kind << passport << 1 << 9600 << "Even";
                *row("parity") << kind << passport << 1 << 19200 << "Odd";
                *row("all three") << kind << passport << 247 << 115200 << "None";
            }
    }
    void followsTheModuleAfterYes() {
        QFETCH(Kind, kind);
        QFETCH(bool, passport);
        QFETCH(int, address);
        QFETCH(int, baud);
        QFETCH(QString, parity);
        const int parityIndex = QStringList{"None", "Odd", "Even"}.indexOf(parity);
        RecorderUi rec;
        sim::SimModule& module = start(kind, passport);
        rec.replies = {true, true}; // switch; after a restart, switch again
        rec.onQuestion = [&](const ShownMessage& q) {
            if (q.text.contains(QStringLiteral("после перезапуска")))
                module.restart(); // what the technician does
        };
        write(address, baud, parity);

        QCOMPARE(rec.texts(), QStringList());
        // A module that took them at once cannot be reached at the old link.
        QCOMPARE(rec.questions.first().text,
                 QStringLiteral("Перейти на новые параметры связи (%1 бод, %2, адрес %3)?")
                         .arg(baud)
                         .arg(parity)
                         .arg(address) +
                     (kind == Kind::AtOnce ? MovedAlready : QString()));
        QCOMPARE(rec.questions.size(), kind == Kind::AtOnce ? 1 : 2);
        QCOMPARE(std::tuple(module.address(), module.baud(), module.parity()),
                 std::tuple(uint8_t(address), baud, parityIndex));
        QCOMPARE(module.reg(0), uint16_t(0x082A)); // the passport as read, written back
        QCOMPARE(std::tuple(int(ModuleAddress), BaudRate, int(ParityIndex)),
                 std::tuple(address, baud, parityIndex));
        QCOMPARE(status_, QStringLiteral("Открыт %1  %2 бод %3 Адрес %4")
                              .arg(link_->port())
                              .arg(baud)
                              .arg(parity)
                              .arg(address));
        QCOMPARE(QStringList({Key("Port", "Name"), Key("Port", "Baud"), Key("Port", "Parity"),
                              Key("Station", "Address")}),
                 QStringList({link_->port(), QString::number(baud), QString::number(parityIndex),
                              QString::number(address)}));
        uint16_t type = 0;
        ReadRegister(768, type); // the tool talks to it
        QCOMPARE(type, uint16_t(17));
        // The passport first, while the old link still worked.
        const auto requests = module.requests();
        QVERIFY(!requests.empty());
        QCOMPARE(requests.front().first, passport ? uint16_t(1912) : uint16_t(0));
    }

    void noKeepsThePcSide_data() { AddLinkChangeRows(); }
    void noKeepsThePcSide() {
        QFETCH(Kind, kind);
        RecorderUi rec;
        sim::SimModule& module = start(kind, true);
        const QByteArray file = FileBytes();
        write(9, 4800, QStringLiteral("Odd"));
        QCOMPARE(rec.questions.size(), 1);
        QCOMPARE(rec.texts(), QStringList());
        QCOMPARE((std::vector<uint16_t>{module.reg(257), module.reg(258), module.reg(259)}),
                 (std::vector<uint16_t>{9, 48, 1}));
        QCOMPARE(std::tuple(int(ModuleAddress), BaudRate, int(ParityIndex)),
                 std::tuple(1, 19200, 2));
        QCOMPARE(FileBytes(), file);
        // The module went on at once; after a restart it would have too.
        QCOMPARE(module.address(), kind == Kind::AtOnce ? uint8_t(9) : uint8_t(1));
    }

    // The module falls silent half-way: at the old and at the new link. The
    // question names what it took and offers the search at its address.
    void failureHalfWaySavesNothing_data() {
        QTest::addColumn<bool>("passport");
        QTest::addColumn<int>("pauses"); // before it falls silent
        QTest::addColumn<QString>("stopsAt");
        QTest::addColumn<QString>("reached"); // "": nothing new
        QTest::addColumn<QString>("search");
        QTest::newRow("at the address, passport") << true << 2 << "адреса"
                                                  << ""
                                                  << "A0042|1";
        QTest::newRow("after the address") << false << 1 << "скорости"
                                           << "19200 бод, Even, адрес 5"
                                           << "A0042|5";
        QTest::newRow("after the address, passport") << true << 3 << "скорости"
                                                     << "19200 бод, Even, адрес 5"
                                                     << "A0042|5";
        QTest::newRow("after the speed") << false << 2 << "паритета"
                                         << "9600 бод, Even, адрес 5"
                                         << "A0042|5";
    }
    void failureHalfWaySavesNothing() {
        QFETCH(bool, passport);
        QFETCH(int, pauses);
        QFETCH(QString, stopsAt);
        QFETCH(QString, reached);
        QFETCH(QString, search);
        RecorderUi rec;
        sim::SimModule& module = start(Kind::AtOnce, passport);
        const QByteArray file = FileBytes();
        rec.onPause = [&](int) {
            if (rec.pauses.size() == pauses)
                module.dropNext(1000);
        };
        rec.replies = {true};
        rec.onQuestion = [&](const ShownMessage&) { RecordSearch(rec); };
        write(5, 9600, QStringLiteral("Odd"));
        QCOMPARE(rec.questions.size(), 1);
        const QString question = rec.questions[0].text;
        QVERIFY2(question.startsWith(
                     QStringLiteral("Модуль перестал отвечать при записи %1.\n").arg(stopsAt) +
                     (reached.isEmpty()
                          ? QStringLiteral("Новых параметров связи он не подтвердил.")
                          : QStringLiteral("Он успел принять параметры связи %1.").arg(reached))),
                 qPrintable(question));
        QCOMPARE(rec.texts(), QStringList{search});
        QCOMPARE(std::tuple(int(ModuleAddress), BaudRate, int(ParityIndex)),
                 std::tuple(1, 19200, 2));
        QCOMPARE(FileBytes(), file);
    }

    // Refused half-way: the tool reads back what the module holds, says where
    // it answers, and offers to follow it as after a success.
    void refusalHalfWayTellsWhereTheModuleIs_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<int>("refused");  // the register the module refuses
        QTest::addColumn<QString>("said"); // in the question, or else in the box
        QTest::addColumn<int>("address");  // of the link the tool is on at the end
        QTest::addColumn<int>("baud");
        const QString refusal =
            QStringLiteral("При записи %1 модуль ответил: «Недопустимое значение данных».\n");
        QTest::newRow("at once, the speed")
            << Kind::AtOnce << 258
            << refusal.arg("скорости") +
                   "В модуле записаны параметры связи 19200 бод, Even, адрес 6, и отвечает он на "
                   "них.\n\nПерейти на новые параметры связи (19200 бод, Even, адрес 6)?" +
                   MovedAlready
            << 6 << 19200;
        QTest::newRow("after a restart, the parity")
            << Kind::AfterRestart << 259
            << refusal.arg("паритета") +
                   "В модуле записаны параметры связи 9600 бод, Even, адрес 6; отвечает он на "
                   "19200 бод, Even, адрес 1.\n\nПерейти на новые параметры связи (9600 бод, Even, "
                   "адрес 6)?"
            << 6 << 9600;
        QTest::newRow("at once, the address")
            << Kind::AtOnce << 257
            << refusal.arg("адреса") +
                   "В модуле записаны параметры связи 19200 бод, Even, адрес 1, и отвечает он на "
                   "них."
            << 1 << 19200;
    }
    void refusalHalfWayTellsWhereTheModuleIs() {
        QFETCH(Kind, kind);
        QFETCH(int, refused);
        QFETCH(QString, said);
        QFETCH(int, address);
        QFETCH(int, baud);
        RecorderUi rec;
        sim::SimModule& module = start(kind, false);
        module.refuseWrites(uint16_t(refused), 3);
        rec.replies = {true, true}; // switch; after the restart, switch again
        rec.onQuestion = [&](const ShownMessage& q) {
            if (q.text.contains(QStringLiteral("после перезапуска")))
                module.restart();
        };
        write(6, 9600, QStringLiteral("Odd"));
        QCOMPARE(rec.questions.isEmpty() ? rec.texts().value(0) : rec.questions[0].text, said);
        QCOMPARE(rec.texts().size(), rec.questions.isEmpty() ? 1 : 0);
        QCOMPARE(std::tuple(int(ModuleAddress), BaudRate, int(ParityIndex)),
                 std::tuple(address, baud, 2));
        uint16_t type = 0;
        ReadRegister(768, type); // the tool talks to the module
        QCOMPARE(type, uint16_t(17));
    }

    // After "Да" the new link finds another module, or none at all.
    void yesFindsNoSuchModule_data() {
        QTest::addColumn<int>("serial"); // register 0 from then on; -1: silent
        QTest::addColumn<QString>("message");
        QTest::newRow("another module") << 4219
                                        << "На новых параметрах связи (9600 бод, Odd, "
                                           "адрес 5) отвечает другой модуль: рег. номер "
                                           "B0123 вместо A0042.\nПрограмма остаётся на "
                                           "прежних параметрах связи.";
        QTest::newRow("silent: the search with its number and address") << -1 << "A0042|5";
    }
    void yesFindsNoSuchModule() {
        QFETCH(int, serial);
        QFETCH(QString, message);
        RecorderUi rec;
        sim::SimModule& module = start(Kind::AtOnce, false);
        const QByteArray file = FileBytes();
        rec.replies = {true, true};
        rec.onQuestion = [&](const ShownMessage&) {
            if (rec.questions.size() == 2) { // the search: the port settings come up
                RecordSearch(rec);
            } else if (serial < 0) {
                module.dropNext(1000);
            } else {
                module.setReg(0, uint16_t(serial));
            }
        };
        write(5, 9600, QStringLiteral("Odd"));
        QCOMPARE(rec.texts(), QStringList{message});
        QCOMPARE(rec.questions.size(), serial < 0 ? 2 : 1);
        QCOMPARE(std::tuple(int(ModuleAddress), BaudRate, int(ParityIndex)),
                 std::tuple(1, 19200, 2));
        QVERIFY(status_.endsWith(QStringLiteral("19200 бод Even Адрес 1")));
        QCOMPARE(FileBytes(), file);
    }
};

QTEST_MAIN(TestModParsLinkSim)
#include "test_modpars_link_sim.moc"
