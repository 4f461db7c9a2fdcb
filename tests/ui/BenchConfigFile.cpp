// Not a test: prints how long a configuration file takes from "Сравнить с
// файлом..." to its box on screen (the file read and checked, the real box
// made, shown and drawn), for files far larger than any configuration.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cstdio>

#include "Boxes.h"
#include "Configuration.h"
#include "Errors.h"
#include "Seam.h"

namespace {

// A saved configuration whose mode is a text of `size` characters.
QByteArray FileWithValue(qsizetype size) {
    config::Configuration c;
    c.read = QDateTime::currentDateTime();
    c.program = QStringLiteral("QS730_View 1.0.0.0");
    c.values = {1u,      100u,    1u,        19200u,   2u,       17u,      0x082Au,
                0x68EFu, 0x0203u, 10094759u, 1769246u, 8085460u, 1770476u, 0x68EFu};
    return config::ConfigurationJson(c).replace("\"mode\": 1,",
                                                "\"mode\": \"" + QByteArray(size, '<') + "\",");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.json"));
    std::printf("%-28s %12s %10s %12s\n", "value", "file, bytes", "box, ms", "box, chars");
    for (const qsizetype size : {qsizetype(60000), qsizetype(1) << 20, qsizetype(4) << 20}) {
        const QByteArray bytes = FileWithValue(size);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return 1;
        f.close();
        QElapsedTimer t;
        t.start();
        QString text;
        try {
            config::LoadConfiguration(path);
        } catch (const Exception& e) {
            text = seam::ErrorBoxText(e.message());
        }
        const auto box = MakeMessageBox(nullptr, text, seam::AppTitle, seam::Icon::Error);
        box->show();
        QApplication::processEvents();
        box->repaint();
        const qint64 ms = t.elapsed();
        box->close();
        std::printf("%-28s %12lld %10lld %12lld\n",
                    qPrintable(QStringLiteral("%1 characters").arg(size)),
                    static_cast<long long>(bytes.size()), static_cast<long long>(ms),
                    static_cast<long long>(text.size()));
    }
    return 0;
}
