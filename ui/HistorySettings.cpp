#include "HistorySettings.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QPointer>

#include "HistoryWriter.h"
#include "Profile.h"
#include "Seam.h"
#include "ui_HistorySettings.h"

namespace {

// The answers of this run, by user and server; nothing means "Отмена".
QHash<QString, std::optional<QString>>& RunPasswords() {
    static QHash<QString, std::optional<QString>> passwords;
    return passwords;
}

QString PasswordKey(const History::Target& t) {
    return QStringLiteral("%1@%2:%3/%4").arg(t.user, t.host).arg(t.port).arg(t.database);
}

// Each pair of choices is one stop of the Tab key, at the chosen one, as the
// buttons themselves keep it once the arrows have moved within the pair.
void OneTabStop(QRadioButton* chosen, QRadioButton* other) {
    chosen->setFocusPolicy(Qt::StrongFocus);
    other->setFocusPolicy(static_cast<Qt::FocusPolicy>(Qt::StrongFocus & ~Qt::TabFocus));
}

} // namespace

History::Target WithRunPassword(QWidget* owner, History::Target target) {
    if (target.backend != History::Target::Backend::Server || !target.askPassword)
        return target;
    const QString key = PasswordKey(target);
    auto& passwords = RunPasswords();
    if (!passwords.contains(key))
        passwords.insert(
            key, seam::password(owner, seam::AppTitle,
                                QStringLiteral("Пароль пользователя %1 на сервере истории %2:")
                                    .arg(target.user, target.text())));
    target.password = passwords.value(key).value_or(QString());
    return target;
}

void ForgetRunPasswords() {
    RunPasswords().clear();
}

THistorySettings::THistorySettings(QWidget* parent, const History::Target& current,
                                   ProfileFile settings)
    : QDialog(parent), ui(std::make_unique<Ui::THistorySettings>()),
      settings_(std::make_unique<ProfileFile>(std::move(settings))), current_(current) {
    ui->setupUi(this);
    const bool server = current.backend == History::Target::Backend::Server;
    ui->rbLocal->setChecked(!server);
    ui->rbServer->setChecked(server);
    ui->lbFile->setText(QStringLiteral("Файл: %1").arg(QDir::toNativeSeparators(current.file)));
    ui->edHost->setText(current.host);
    ui->sbPort->setValue(current.port);
    ui->edDatabase->setText(current.database);
    ui->edUser->setText(current.user);
    ui->rbAskPassword->setChecked(current.askPassword);
    ui->rbPgpass->setChecked(!current.askPassword);
    OneTabStop(server ? ui->rbServer : ui->rbLocal, server ? ui->rbLocal : ui->rbServer);
    OneTabStop(current.askPassword ? ui->rbAskPassword : ui->rbPgpass,
               current.askPassword ? ui->rbPgpass : ui->rbAskPassword);
    showBackend();
    connect(ui->rbServer, &QRadioButton::toggled, this, &THistorySettings::showBackend);
    connect(ui->btCheck, &QPushButton::clicked, this,
            seam::Guarded(this, &THistorySettings::btCheckClick));
    connect(ui->btOK, &QPushButton::clicked, this,
            seam::Guarded(this, &THistorySettings::btOKClick));
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

// A trial still waiting for a server ends within its connect timeout, and
// its answer then finds no dialog.
THistorySettings::~THistorySettings() = default;

void THistorySettings::showBackend() {
    const bool server = ui->rbServer->isChecked();
    ui->pnServer->setEnabled(server);
    ui->lbFile->setEnabled(!server);
    ui->lbCheck->clear();
}

History::Target THistorySettings::target() const {
    History::Target t = current_;
    t.password.clear();
    t.backend = ui->rbServer->isChecked() ? History::Target::Backend::Server
                                          : History::Target::Backend::Local;
    t.host = ui->edHost->text().trimmed();
    t.port = ui->sbPort->value();
    t.database = ui->edDatabase->text().trimmed();
    t.user = ui->edUser->text().trimmed();
    t.askPassword = ui->rbAskPassword->isChecked();
    return t;
}

namespace {
// A server needs all three to be reached.
bool Complete(QWidget* owner, const History::Target& t) {
    if (t.backend == History::Target::Backend::Local ||
        (!t.host.isEmpty() && !t.database.isEmpty() && !t.user.isEmpty()))
        return true;
    seam::message(owner, QStringLiteral("Укажите сервер, базу данных и пользователя."),
                  QStringLiteral("Настройки истории"), seam::Icon::Warning);
    return false;
}
} // namespace

void THistorySettings::btCheckClick() {
    if (probing_)
        return;
    if (!Complete(this, target()))
        return;
    const History::Target t = WithRunPassword(this, target());
    ui->lbCheck->setText(QStringLiteral("Проверка соединения: %1…").arg(t.text()));
    ui->btCheck->setEnabled(false);
    probing_ = true;
    // On the history's database thread, behind what the writer is doing.
    QMetaObject::invokeMethod(
        History::DatabaseThread(),
        [t, dialog = QPointer<THistorySettings>(this)] {
            const QString problem = History::Probe(t);
            QMetaObject::invokeMethod(
                qApp,
                [dialog, t, problem] {
                    if (!dialog)
                        return;
                    dialog->probing_ = false;
                    dialog->checkDone(
                        problem.isEmpty()
                            ? QStringLiteral("Соединение установлено: %1.").arg(t.text())
                            : QStringLiteral("Соединение не установлено: %1.\n%2")
                                  .arg(t.text(), seam::ErrorBoxText(problem)));
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void THistorySettings::checkDone(const QString& text) {
    ui->lbCheck->setText(text);
    ui->btCheck->setEnabled(true);
    emit checked();
}

QString THistorySettings::checkText() const {
    return ui->lbCheck->text();
}

void THistorySettings::btOKClick() {
    const History::Target t = target();
    if (!Complete(this, t))
        return;
    History::SaveTarget(*settings_, t);
    accept();
}
