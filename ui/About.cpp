#include "About.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

#include "ui_About.h"

#include "ProgramIcon.xpm"

TAboutBox::TAboutBox(QWidget* parent) : TAboutBox(parent, VersionInfo::ofRunningProgram()) {}

TAboutBox::TAboutBox(QWidget* parent, const std::optional<VersionInfo>& info)
    : QDialog(parent), ui(new Ui::TAboutBox) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    ui->ProgramIcon->setPixmap(QPixmap(ProgramIcon_xpm));
    connect(ui->OKButton, &QPushButton::clicked, this, [this] { done(1); });

    const struct {
        QLabel* label;
        const char* key;
        QString prefix;
    } rows[] = {
        {ui->ProductName, "ProductName", QStringLiteral("Название: ")},
        {ui->Version, "FileVersion", QStringLiteral("Версия: ")},
        {ui->Copyright, "LegalCopyright", QStringLiteral("Copyright: ")},
        {ui->Autor, "Autor", QStringLiteral("Автор: ")},
        {ui->Comments, "Comments", QStringLiteral("Описание: ")},
    };
    for (const auto& row : rows) {
        const std::optional<QString> value =
            info ? info->value(QLatin1String(row.key)) : std::nullopt;
        row.label->setTextFormat(Qt::PlainText);
        row.label->setText(row.prefix + value.value_or(QString()));
    }
}

TAboutBox::~TAboutBox() {
    delete ui;
}
