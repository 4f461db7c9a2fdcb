#include "Program.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>
#include <memory>

#include "Func.h"
#include "HistorySettings.h"
#include "HistoryStore.h"
#include "HistoryWriter.h"
#include "Main.h"
#include "Manual.h"
#include "Passw.h"
#include "Profile.h"
#include "Seam.h"

QTranslator* InstallQtTranslation() {
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    for (const QString& dir : {QCoreApplication::applicationDirPath(),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        if (translator->load(QStringLiteral("qtbase_ru"), dir)) {
            QCoreApplication::installTranslator(translator.get());
            return translator.release();
        }
    }
    return nullptr;
}

void WireMainWindow(TForm1& form) {
    form.openManual = OpenManual;
}

std::unique_ptr<History::Writer> StartHistory(const ProfileFile& settings,
                                              const QString& queuePath) {
    // The server's password: from its own password file, or asked once per
    // run when the settings say so; never kept in the settings file.
    const History::Target target = WithRunPassword(nullptr, History::LoadTarget(settings));
    auto writer = std::make_unique<History::Writer>(target, queuePath);
    History::SetCurrentSink(writer.get());
    return writer;
}

void WireHistory(TForm1& form, History::Writer& writer) {
    QObject::connect(&writer, &History::Writer::unavailable, &form, [&form](const QString& why) {
        form.showHistoryNote(
            QStringLiteral("История недоступна, записи ждут в очереди: %1").arg(why));
    });
    QObject::connect(&writer, &History::Writer::available, &form, [&form](int written) {
        form.showHistoryNote(
            QStringLiteral("История снова доступна: записей из очереди передано %1").arg(written));
        QTimer::singleShot(15000, &form, [&form] { form.showHistoryNote(QString()); });
    });
}

int RunProgram(QApplication& app, const QString& libraryPath) {
    InstallQtTranslation();
    // What a save cut short by a crash or a kill left beside the settings file.
    ProfileFile::removeSaveLeftovers(SettingsFilePath());

    if (!LoadCommLibraryFrom(libraryPath))
        return -1;

    QApplication::setApplicationName(seam::AppTitle);
    try {
        // Before the window: the module it finds on its link goes into it.
        const std::unique_ptr<History::Writer> history =
            StartHistory(ToolSettingsFile(), History::DefaultQueueFile());
        TForm1 form;
        WireMainWindow(form);
        WireHistory(form, *history);
        // The password dialog lives, hidden, for the whole run.
        TPassword password(&form);
        Password = &password;
        form.show();
        app.exec();
        Password = nullptr;
    } catch (const std::exception& e) {
        seam::ShowException(e);
    }
    return 0;
}
