#include "Compar.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "Convert.h"
#include "Func.h"
#include "LinkSettings.h"
#include "Mess.h"
#include "Ports.h"
#include "Seam.h"
#include "ui_Compar.h"

namespace {

#ifndef Q_OS_WIN
constexpr bool ShowsDevices = true;
#else
constexpr bool ShowsDevices = false; // Windows names its COM ports itself
#endif

QString Str(const std::string& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

// What a device is, for the list: "FTDI FT232R USB UART (/dev/ttyUSB0)".
QString DeviceItem(const SerialDevice& d) {
    const QString what = !d.description.empty() ? Str(d.description)
                         : d.usb ? QStringLiteral("Преобразователь USB–RS-485")
                                 : QStringLiteral("Встроенный порт");
    return what + QStringLiteral(" (") + Str(d.node) + QLatin1Char(')');
}

// n of the COMn chosen in `list`; 0 for any other text.
int ComNumber(const QComboBox* list) {
    return ComNumberOf(list->currentText());
}

// A long device name may break after any "/".
QString Breakable(QString text) {
    return text.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
}

} // namespace

TParCOM::TParCOM(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui(new Ui::TParCOM) {
    ui->setupUi(this);

    connect(ui->btOk, &QPushButton::clicked, this, seam::Guarded(this, &TParCOM::btOkClick));
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->Button1, &QPushButton::clicked, this, seam::Guarded(this, &TParCOM::Button1Click));
    connect(ui->btAuto, &QPushButton::clicked, this, seam::Guarded(this, &TParCOM::btAutoClick));

    // Port: the exact name, case included; any other name selects nothing.
    // A gateway on the network is typed in (tcp:HOST[:PORT],
    // rtu-tcp:HOST:PORT) and shown as it was saved.
    ui->cbPort->setEditable(true);
    ui->cbPort->setInsertPolicy(QComboBox::NoInsert);
    ui->cbPort->lineEdit()->setPlaceholderText(QStringLiteral("COM1 или tcp:10.0.0.5"));
    ui->cbPort->setToolTip(
        QStringLiteral("Последовательный порт из списка, или шлюз в сети:\n"
                       "tcp:УЗЕЛ[:ПОРТ] — шлюз Modbus TCP (порт 502, если не указан),\n"
                       "rtu-tcp:УЗЕЛ:ПОРТ — прозрачный сервер (кадры RTU по TCP)"));
    ui->cbPort->setCurrentIndex(-1);
    for (int i = 0; i < ui->cbPort->count(); ++i)
        if (ui->cbPort->itemText(i) == PortName)
            ui->cbPort->setCurrentIndex(i);
    if (IsNetworkPort(PortName))
        ui->cbPort->setEditText(PortName);

    ui->cbSpeed->setCurrentIndex(reg::SpeedIndex(BaudRate));
    ui->cbParity->setCurrentIndex(ParityIndex < ui->cbParity->count() ? ParityIndex : -1);
    ui->edAddress->setText(QString::number(ModuleAddress));

    ui->cbSerNumAlpha->setCurrentIndex(SerialLetterIndexSetting());
    ui->edNumber->clear();

    if (ShowsDevices) {
        fillDevices();
        connect(ui->cbPort, &QComboBox::currentIndexChanged, this, [this] { fillDevices(); });
        connect(ui->cbDevice, &QComboBox::currentIndexChanged, this, [this] {
            if (!fillingDevices_)
                showDevice();
        });
    } else {
        ui->LabelDevice->hide();
        ui->cbDevice->hide();
        ui->lbDevice->hide();
    }
}

void TParCOM::fillDevices() {
    fillingDevices_ = true;
    devices_ = SerialDevicesUnder(SerialDeviceRoot);
    const int n = ComNumber(ui->cbPort);
    ui->cbDevice->clear();
    ui->cbDevice->addItem(QStringLiteral("Назначить автоматически"), QString());
    for (const SerialDevice& d : devices_)
        ui->cbDevice->addItem(DeviceItem(d), Str(d.path));
    ui->cbDevice->setCurrentIndex(0);
    ui->cbDevice->setEnabled(n > 0);
    const PortEntries entries = StoredPortEntries();
    if (const auto entry = entries.find(n); entry != entries.end()) {
        const SerialDevice* d = FindSerialDevice(devices_, entry->second);
        int index = d ? ui->cbDevice->findData(Str(d->path)) : -1;
        if (index < 0) { // a device of its own (not in the list, or gone)
            ui->cbDevice->addItem(Str(entry->second), Str(entry->second));
            index = ui->cbDevice->count() - 1;
        }
        ui->cbDevice->setCurrentIndex(index);
    }
    // The item stands for the stored entry, whatever name the entry gives
    // the device (/dev/ttyUSB0, a udev name): unchanged, it is not rewritten.
    listedDevice_ = ui->cbDevice->currentData().toString();
    fillingDevices_ = false;
    showDevice();
}

std::optional<PortMapEntry> TParCOM::deviceEntry() const {
    const int n = ComNumber(ui->cbPort);
    const QString choice = ui->cbDevice->currentData().toString();
    if (!ShowsDevices || n < 1 || choice == listedDevice_)
        return std::nullopt;
    return PortMapEntry{n, choice};
}

QString TParCOM::portToOpen() const {
    return PortToOpen(ui->cbPort->currentText(), deviceEntry(), devices_);
}

void TParCOM::showDevice(const QString& reason) {
    const int n = ComNumber(ui->cbPort);
    QString text;
    if (n > 0) {
        // What the port reaches once the choice is stored.
        const PortTarget target = PortTargetWith(n, deviceEntry(), devices_);
        if (!target.device) {
            text = QStringLiteral("Нет устройства");
        } else if (const SerialDevice* d = FindSerialDevice(devices_, *target.device)) {
            text = Str(d->node) + QStringLiteral(" — ") +
                   (d->description.empty() ? QStringLiteral("последовательный порт")
                                           : Str(d->description));
            if (d->path != d->node)
                text += QStringLiteral(" (") + Str(d->path) + QLatin1Char(')');
        } else {
            std::error_code ec;
            const bool exists = std::filesystem::exists(*target.device, ec);
            text = Str(*target.device) + (exists ? QString() : QStringLiteral(" — нет устройства"));
        }
    }
    if (!reason.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + reason;
    ui->lbDevice->setText(Breakable(text));
}

TParCOM::~TParCOM() {
    delete ui;
}

void TParCOM::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept(); // no button is bound to Escape
        return;
    }
    QDialog::keyPressEvent(event);
}

LinkChoice TParCOM::chosenLink() const {
    LinkChoice c;
    c.baud = StrToInt(ui->cbSpeed->currentText());
    // Only none, odd and even exist; without a choice nothing is opened.
    if (ui->cbParity->currentIndex() < 0)
        throw Exception(QStringLiteral("Выберите паритет!"));
    c.parity = static_cast<uint8_t>(ui->cbParity->currentIndex());
    // Every request carries the address in one byte; a typo must not reach
    // the broadcast address or another module. Checked before the port is
    // opened, so that a refused "OK" changes nothing.
    const int32_t address = StrToInt(ui->edAddress->text());
    CheckModuleAddress(address);
    c.address = static_cast<uint8_t>(address);
    c.port = ui->cbPort->currentText().trimmed();
    // A gateway's name spelt wrong opens nothing: say how it is spelt.
    if (IsNetworkPort(c.port) && !IsGoodNetworkPort(c.port))
        throw Exception(OpenFailureReason(EINVAL, c.port));
    if (ui->cbSerNumAlpha->currentIndex() >= 0)
        c.letter = ui->cbSerNumAlpha->currentText();
    c.device = deviceEntry();
    return c;
}

void TParCOM::btOkClick() {
    const LinkChoice choice = chosenLink();
    if (!OpenPortOn(choice.port, portToOpen(), choice.baud, choice.parity)) {
        if (ShowsDevices)
            showDevice(OpenFailureReason(LastOpenError, choice.port)); // the box does not say why
        return;
    }
    lineMoved_ = false; // the line runs at the new link
    TakeOverLinkChoice(choice);
    done(QDialog::Accepted);
}

void TParCOM::reject() {
    if (lineMoved_) {
        lineMoved_ = false;
        OpenPort(PortName, BaudRate, ParityIndex); // back to the link in force
    }
    QDialog::reject();
}

void TParCOM::Button1Click() {
    ui->cbPort->setCurrentIndex(0); // COM1
    ui->cbSpeed->setCurrentIndex(reg::SpeedIndex(reg::FactoryBaud));
    ui->cbParity->setCurrentIndex(reg::FactoryParity);
    ui->edAddress->setText(QString::number(reg::FactoryAddress));
}

void TParCOM::btAutoClick() {
    const int letterIndex = ui->cbSerNumAlpha->currentIndex();
    if (ui->edNumber->text().isEmpty() || letterIndex < 0)
        throw Exception(QStringLiteral("Введите  номер модуля!"));
    const int32_t number = StrToInt(ui->edNumber->text());
    // A larger or negative number would look for another module.
    CheckSerialNumber(number);
    const uint16_t serial = reg::EncodeSerial(letterIndex, number);
    // The address is refused as "OK" refuses it, before anything is shown: the
    // library would refuse it too, and the search would end without a word.
    const int32_t address = StrToInt(ui->edAddress->text());
    CheckModuleAddress(address);

    // The window goes before anything else is shown or the link is reopened,
    // on every way out of here.
    auto mess = std::make_unique<TfMess>(this);
    mess->paintNow();
    const QString port = portToOpen();
    if (IsNetworkPort(port) && !IsGoodNetworkPort(port))
        throw Exception(OpenFailureReason(EINVAL, port));
    const QString note = SearchNote(port);
    const SearchOutcome found = SearchModule(port, serial, address);
    mess.reset();

    if (found.kind == SearchOutcome::Kind::Found && !note.isEmpty()) {
        // Behind a gateway the speed and parity found say nothing.
        seam::message(this,
                      QStringLiteral("Модуль обнаружен!\n") + note +
                          QStringLiteral("\nДля установки параметров порта нажмите ОК"),
                      QString(), seam::Icon::Warning);
        return;
    }
    if (found.kind == SearchOutcome::Kind::Found) {
        if (const int speed = reg::SpeedIndex(found.baud); speed >= 0)
            ui->cbSpeed->setCurrentIndex(speed);
        ui->cbParity->setCurrentIndex(found.parity < ui->cbParity->count() ? found.parity : -1);
        OpenPort(PortName, found.baud, found.parity);
        lineMoved_ = true;
        seam::message(
            this, QStringLiteral("Модуль обнаружен!\nДля установки параметров порта нажмите ОК"),
            QString(), seam::Icon::Warning);
        return;
    }
    OpenPort(PortName, BaudRate, ParityIndex); // back to the link in force
    lineMoved_ = false;
    if (ShowsDevices && !found.reason().isEmpty())
        showDevice(found.reason());
    if (!ShowsDevices && IsNetworkPort(port) && !found.reason().isEmpty())
        throw Exception(found.reason()); // no device line to say it in
    if (!found.message().isEmpty())
        throw Exception(note.isEmpty() ? found.message()
                                       : found.message() + QStringLiteral("\n") + note);
}
