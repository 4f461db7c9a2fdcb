// The about box and the version information it reads.
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include "About.h"
#include "Controls.h"
#include "Seam.h"
#include "VersionInfo.h"

namespace {

QString Path(const QString& key) {
    return QStringLiteral("\\StringFileInfo\\041904E3\\") + key;
}

QLabel* Label(QDialog& box, const char* name) {
    return Control<QLabel>(box, name);
}

QStringList Labels(QDialog& box) {
    QStringList texts;
    for (const char* name : {"ProductName", "Version", "Copyright", "Autor", "Comments"})
        texts << Label(box, name)->text();
    return texts;
}

VersionInfo::StringTable FullTable() {
    return {{"ProductName", "Прибор"},        {"FileVersion", "2.5.0.7"},
            {"LegalCopyright", "(C) Отдел"},  {"Autor", "Иванов И."},
            {"Comments", "Описание прибора"}, {"CompanyName", "x"}};
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

  private slots:
    void builtInBlockCarriesEveryKey() {
        const auto info = VersionInfo::ofRunningProgram();
        QVERIFY(info.has_value());
        for (const char* key : {"ProductName", "FileVersion", "LegalCopyright", "Autor", "Comments",
                                "CompanyName", "FileDescription", "InternalName", "LegalTrademarks",
                                "OriginalFilename", "ProductVersion"})
            QVERIFY2(info->query(Path(QLatin1String(key))).has_value(), key);
        QCOMPARE(*info->query(Path("ProductName")), seam::AppTitle);
        const QString version = *info->query(Path("FileVersion"));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                     .match(version)
                     .hasMatch(),
                 qPrintable(version));
        QCOMPARE(*info->query(Path("ProductVersion")), version);
        QVERIFY(!info->query(Path("Autor"))->isEmpty());
        QVERIFY(!info->query(Path("Comments"))->isEmpty());
    }

    void queryPaths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("value");
        QTest::newRow("exact") << "\\StringFileInfo\\041904E3\\Autor" << true << "Иванов И.";
        QTest::newRow("any case") << "\\stringfileinfo\\041904e3\\AUTOR" << true << "Иванов И.";
        QTest::newRow("other block") << "\\StringFileInfo\\040904B0\\Autor" << false << "";
        QTest::newRow("missing key") << "\\StringFileInfo\\041904E3\\InternalName" << false << "";
        QTest::newRow("block only") << "\\StringFileInfo\\041904E3" << false << "";
        QTest::newRow("too deep") << "\\StringFileInfo\\041904E3\\Autor\\x" << false << "";
        QTest::newRow("translation") << "\\VarFileInfo\\Translation" << false << "";
        QTest::newRow("empty") << "" << false << "";
    }
    void queryPaths() {
        QFETCH(QString, path);
        QFETCH(bool, found);
        QFETCH(QString, value);
        const VersionInfo info({{"041904E3", FullTable()}});
        const auto result = info.query(path);
        QCOMPARE(result.has_value(), found);
        if (found)
            QCOMPARE(*result, value);
    }

    void boxShowsTheProgramsBlock() {
        TAboutBox box;
        const auto info = VersionInfo::ofRunningProgram();
        QVERIFY(info.has_value());
        QCOMPARE(Labels(box), QStringList({"Название: " + *info->query(Path("ProductName")),
                                           "Версия: " + *info->query(Path("FileVersion")),
                                           "Copyright: " + *info->query(Path("LegalCopyright")),
                                           "Автор: " + *info->query(Path("Autor")),
                                           "Описание: " + *info->query(Path("Comments"))}));
        QCOMPARE(Label(box, "ProductName")->text(), QStringLiteral("Название: QS730_View"));
    }

    void boxShowsValuesUnchangedAndPrefixesAlone_data() {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("dropKey");
        QTest::addColumn<QString>("emptyKey");
        QTest::addColumn<QStringList>("labels");
        const QStringList full = {"Название: Прибор", "Версия: 2.5.0.7", "Copyright: (C) Отдел",
                                  "Автор: Иванов И.", "Описание: Описание прибора"};
        QTest::newRow("all keys") << "041904E3"
                                  << ""
                                  << "" << full;
        QStringList noAuthor = full;
        noAuthor[3] = "Автор: ";
        QTest::newRow("missing key") << "041904E3"
                                     << "Autor"
                                     << "" << noAuthor;
        QStringList noVersion = full;
        noVersion[1] = "Версия: ";
        QTest::newRow("empty value") << "041904E3"
                                     << ""
                                     << "FileVersion" << noVersion;
        QTest::newRow("other block only")
            << "040904B0"
            << ""
            << ""
            << QStringList({"Название: ", "Версия: ", "Copyright: ", "Автор: ", "Описание: "});
    }
    void boxShowsValuesUnchangedAndPrefixesAlone() {
        QFETCH(QString, block);
        QFETCH(QString, dropKey);
        QFETCH(QString, emptyKey);
        QFETCH(QStringList, labels);
        VersionInfo::StringTable table = FullTable();
        table.erase(dropKey);
        if (!emptyKey.isEmpty())
            table[emptyKey] = QString();
        TAboutBox box(nullptr, VersionInfo({{block, table}}));
        QCOMPARE(Labels(box), labels);
    }

    void boxWithoutVersionInformation() {
        TAboutBox box(nullptr, std::nullopt);
        QCOMPARE(Labels(box),
                 QStringList({"Название: ", "Версия: ", "Copyright: ", "Автор: ", "Описание: "}));
    }

    void markupIsShownAsText() {
        VersionInfo::StringTable table = FullTable();
        table["Comments"] = QStringLiteral("<b>QS-730</b> & <i>");
        TAboutBox box(nullptr, VersionInfo({{"041904E3", table}}));
        QLabel* comments = Label(box, "Comments");
        QCOMPARE(comments->text(), QStringLiteral("Описание: <b>QS-730</b> & <i>"));
        QCOMPARE(comments->textFormat(), Qt::PlainText);
    }

    void formAndLayout() {
        TAboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("О программе"));
        QCOMPARE(box.minimumSize(), box.maximumSize());
        auto* panel = box.findChild<QFrame*>(QStringLiteral("Panel1"));
        QVERIFY(panel);
        QLabel* icon = Label(box, "ProgramIcon");
        QCOMPARE(icon->parentWidget(), panel);
        QVERIFY(icon->hasScaledContents());
        QCOMPARE(icon->pixmap().size(), QSize(32, 32));
        // Name and version right of the picture; the rest under it, in order.
        const QRect pic = icon->geometry();
        for (const char* name : {"ProductName", "Version"})
            QVERIFY2(Label(box, name)->geometry().left() > pic.right(), name);
        QVERIFY(Label(box, "Version")->geometry().top() >
                Label(box, "ProductName")->geometry().top());
        int top = pic.bottom();
        for (const char* name : {"Copyright", "Autor", "Comments"}) {
            QVERIFY2(Label(box, name)->geometry().top() > top, name);
            top = Label(box, name)->geometry().top();
        }
        for (QLabel* l : panel->findChildren<QLabel*>())
            QCOMPARE(l->parentWidget(), panel);
        // Centred on the screen.
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY((box.frameGeometry().center() - centre).manhattanLength() <= 2);
    }

    void okClosesWithResult1() {
        TAboutBox box;
        auto* ok = box.findChild<QPushButton*>(QStringLiteral("OKButton"));
        QVERIFY(ok);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QVERIFY(ok->isDefault());
        QTimer::singleShot(0, ok, &QPushButton::click);
        QCOMPARE(box.exec(), 1);
    }
};

QTEST_MAIN(TestAbout)
#include "test_about.moc"
