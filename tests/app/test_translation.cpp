// Qt's translation: found beside the program first, else among Qt's own;
// it turns Qt's dialogs Russian and leaves the program's boxes as they are.
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>
#include <algorithm>

#include "Boxes.h"
#include "Program.h"

namespace {

QStringList ButtonTexts(const QWidget& box) {
    QStringList texts;
    for (const QPushButton* b : box.findChildren<QPushButton*>())
        texts << b->text();
    std::sort(texts.begin(), texts.end());
    return texts;
}

} // namespace

class TestTranslation : public QObject {
    Q_OBJECT

  private slots:
    void qtSpeaksRussianTheBoxesDoNot_data() {
        QTest::addColumn<bool>("beside"); // a copy lies beside the program
        QTest::newRow("beside the program") << true;
        QTest::newRow("Qt's translations") << false;
    }
    void qtSpeaksRussianTheBoxesDoNot() {
        QFETCH(bool, beside);
        const QString qt =
            QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ru.qm");
        const QString here =
            QCoreApplication::applicationDirPath() + QStringLiteral("/qtbase_ru.qm");
        const bool ownCopy = beside && !QFile::exists(here);
        if (!QFile::exists(beside ? (ownCopy ? qt : here) : qt))
            QSKIP("no qtbase_ru.qm here (Debian: qt6-translations-l10n)");
        if (!beside && QFile::exists(here))
            QSKIP("a copy beside the test program is found first");
        if (ownCopy)
            QVERIFY(QFile::copy(qt, here));
        QTranslator* translator = InstallQtTranslation();
        if (ownCopy)
            QFile::remove(here);
        QVERIFY(translator);
        QCOMPARE(QFileInfo(translator->filePath()).absolutePath(),
                 QFileInfo(beside ? here : qt).absolutePath());
        const QString lookIn = QCoreApplication::translate("QFileDialog", "Look in:");
        const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");

        // The boxes of the program keep their own words.
        QStringList boxes;
        for (seam::Icon icon :
             {seam::Icon::None, seam::Icon::Information, seam::Icon::Warning, seam::Icon::Error})
            boxes << ButtonTexts(*MakeMessageBox(nullptr, "text", "caption", icon));
        const QStringList input = ButtonTexts(*MakeInputBox(nullptr, "c", "p", "v"));
        const QStringList password = ButtonTexts(*MakePasswordBox(nullptr, "c", "p"));
        QCoreApplication::removeTranslator(translator);
        delete translator;

        QVERIFY2(lookIn != QStringLiteral("Look in:") && cancel != QStringLiteral("Cancel"),
                 qPrintable(lookIn));
        QCOMPARE(boxes, QStringList(4, QStringLiteral("OK")));
        QCOMPARE(input, QStringList({"Cancel", "OK"}));
        QCOMPARE(password, QStringList({"OK", "Отмена"}));
    }
};

QTEST_MAIN(TestTranslation)
#include "test_translation.moc"
