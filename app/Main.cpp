#include "Main.h"

#include <QLabel>
#include <QStatusBar>

#include "Func.h"
#include "ui_Main.h"

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), ui(new Ui::TForm1) {
    ui->setupUi(this);

    auto* linkState = new QLabel(ui->StatusBar1);
    linkState->setObjectName(QStringLiteral("StatusPanel1"));
    ui->StatusBar1->addWidget(linkState, 1);
    LinkStateSink = [linkState](const QString& text) { linkState->setText(text); };

    ReadLinkSettings(SettingsFilePath());
    ModuleAddress = 1;
    OpenPort(PortName, BaudRate, ParityIndex); // a failed open leaves "Закрыт" in the status line
}

TForm1::~TForm1() {
    LinkStateSink = nullptr;
    delete ui;
}
