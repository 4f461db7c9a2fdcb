// A scripted driver for end-to-end runs of the real program: a Qt generic
// plugin, loaded into QS730_View by Qt itself when the environment says
//
//     QT_QPA_GENERIC_PLUGINS=qs730driver:out=<file>;<step>;<step>...
//
// or the command line holds Qt's own "-plugin qs730driver:out=..." (wine
// passes no QT_* variable on), and the plugin lies in a folder "generic"
// beside the program or on QT_PLUGIN_PATH. The program knows nothing of it.
// Steps, in order, once the main window is up:
//
//     poll      presses "Опросить"
//     settings  opens Порт -> Настройки... and presses OK
//     help      chooses "Справка"; the driver takes the place of the system's
//               viewer and reports the file the program opens as
//               "opened=<path>"
//
// Message boxes that come up on the way are answered with their OK button.
// Every press is queued rather than made inside the driver's timer: a modal
// dialog or box it opens runs its own event loop, and Qt does not fire a timer
// again while its previous timeout is still being handled.
// Afterwards the driver writes what the window shows to <file> (UTF-8, one
// "name=value" per line: status, value, and box for each message box seen)
// and closes the main window, which ends the program. After 60 s without
// getting there (no main window, or a dialog or box that keeps coming back)
// it writes "error=..." and ends the program all the same.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {

class Driver : public QObject {
    Q_OBJECT

  public:
    explicit Driver(const QString& script) {
        for (const QString& part : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (part.startsWith(QLatin1String("out=")))
                out_ = part.mid(4);
            else
                steps_ << part;
        }
        started_.start();
        connect(&tick_, &QTimer::timeout, this, [this] { onTick(); });
        tick_.start(100);
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
    }
    ~Driver() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    Q_INVOKABLE void open(const QUrl& url) {
        report_ << QStringLiteral("opened=") + url.toLocalFile();
    }

  private:
    template <class T> static T* visibleTopLevel(const char* className) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->inherits(className))
                if (auto* t = qobject_cast<T*>(w))
                    return t;
        return nullptr;
    }

    // Answers what a step or the program put on screen; true if it did.
    bool answerWindows() {
        if (auto* box = visibleTopLevel<QMessageBox>("QMessageBox")) {
            report_ << QStringLiteral("box=") +
                           box->text().replace(QLatin1Char('\n'), QLatin1Char(' '));
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                press(ok);
            else
                QTimer::singleShot(0, box, &QDialog::accept);
            return true;
        }
        if (auto* dialog = visibleTopLevel<QDialog>("TParCOM")) {
            if (auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("btOk")))
                press(ok);
            return true;
        }
        return false;
    }

    static void press(QAbstractButton* button) {
        QTimer::singleShot(0, button, [button] { button->click(); });
    }

    void onTick() {
        auto* main = visibleTopLevel<QMainWindow>("TForm1");
        if (started_.elapsed() > 60000) {
            finish(main, main ? QStringLiteral("error=the steps did not end")
                              : QStringLiteral("error=the main window did not come up"));
            return;
        }
        if (answerWindows() || !main)
            return;
        if (steps_.isEmpty()) {
            finish(main, QString());
            return;
        }
        const QString step = steps_.takeFirst();
        if (step == QLatin1String("poll")) {
            if (auto* button = main->findChild<QPushButton*>(QStringLiteral("btPoll")))
                press(button);
        } else if (step == QLatin1String("settings") || step == QLatin1String("help")) {
            const QString name = step == QLatin1String("help") ? QStringLiteral("miHelp")
                                                               : QStringLiteral("miComPars");
            if (auto* item = main->findChild<QAction*>(name))
                QTimer::singleShot(0, item, &QAction::trigger);
        } else {
            report_ << QStringLiteral("error=unknown step ") + step;
        }
    }

    void finish(QWidget* main, const QString& error) {
        tick_.stop();
        QStringList lines = report_;
        if (main) {
            if (auto* status = main->findChild<QLabel*>(QStringLiteral("StatusPanel1")))
                lines.prepend(QStringLiteral("status=") + status->text());
            if (auto* value = main->findChild<QLineEdit*>(QStringLiteral("edValue")))
                lines.prepend(QStringLiteral("value=") + value->text());
        }
        if (!error.isEmpty())
            lines << error;
        QFile file(out_);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        if (error.isEmpty())
            main->close();
        else
            QCoreApplication::exit(3); // out of every dialog's loop too
    }

    QStringList steps_;
    QStringList report_;
    QString out_;
    QTimer tick_;
    QElapsedTimer started_;
};

} // namespace

class DriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "driver.json")

  public:
    QObject* create(const QString& key, const QString& script) override {
        if (key.compare(QLatin1String("qs730driver"), Qt::CaseInsensitive) != 0)
            return nullptr;
        return new Driver(script);
    }
};

#include "Driver.moc"
