// The form before a protocol: the date until which the reference is valid
// starts empty unless entered before, and a protocol needs it.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "Controls.h"
#include "ProtocolForm.h"
#include "RecorderUi.h"

class TestProtocolForm : public QObject {
    Q_OBJECT
  private slots:
    void validUntilRequired_data() {
        QTest::addColumn<QDate>("remembered");
        QTest::addColumn<QString>("typed"); // null: left as offered
        QTest::addColumn<QDate>("taken");   // invalid: refused
        QTest::newRow("nothing entered") << QDate() << QString() << QDate();
        QTest::newRow("two-digit year") << QDate() << "31.01.27" << QDate();
        QTest::newRow("typed") << QDate() << "31.1.2027" << QDate(2027, 1, 31);
        QTest::newRow("offered again") << QDate(2027, 1, 31) << QString() << QDate(2027, 1, 31);
    }
    void validUntilRequired() {
        QFETCH(QDate, remembered);
        QFETCH(QString, typed);
        QFETCH(QDate, taken);
        RecorderUi rec;
        const ProtocolPeople people{"Иванов И. И.", {}, "Калибратор КП-2", {}, remembered, {}};
        TProtocolForm form(nullptr, people, QStringLiteral("Протокол проверки"));
        auto* validUntil = Control<QLineEdit>(form, "edReferenceValidUntil");
        QCOMPARE(validUntil->text(), remembered.toString(QStringLiteral("dd.MM.yyyy")));
        if (!typed.isNull())
            validUntil->setText(typed);
        Control<QPushButton>(form, "btOk")->click();
        QCOMPARE(form.result() == QDialog::Accepted, taken.isValid());
        QCOMPARE(form.people().referenceValidUntil, taken);
        QCOMPARE(rec.texts(),
                 taken.isValid()
                     ? QStringList()
                     : QStringList(QStringLiteral("Укажите срок действия эталона (дд.мм.гггг)!")));
    }
};

QTEST_MAIN(TestProtocolForm)
#include "test_protocol_form.moc"
