#include "SimLink.h"

#include <QCoreApplication>
#include <stdexcept>

#include "Func.h"
#include "Profile.h"

SimLink::SimLink(const sim::Options& options) : module_(std::make_unique<sim::SimModule>(options)) {
    if (!Comm.invoke_modb && !LoadCommLibrary())
        throw std::runtime_error("the communication library did not bind");
    PortName = port();
    BaudRate = options.baud;
    ParityIndex = static_cast<uint8_t>(options.parity);
    ModuleAddress = options.address;
    opened_ = OpenPort(PortName, BaudRate, ParityIndex);
}

SimLink::~SimLink() = default;

QString SimLink::port() const {
    return QString::fromStdString(module_->devicePath());
}

void SimLink::writeSettingsFile(const QString& path) const {
    ProfileFile ini(path);
    ini.writeString(QStringLiteral("Port"), QStringLiteral("Name"), port());
    ini.writeInteger(QStringLiteral("Port"), QStringLiteral("Baud"), module_->baud());
    ini.writeInteger(QStringLiteral("Port"), QStringLiteral("Parity"), module_->parity());
}
