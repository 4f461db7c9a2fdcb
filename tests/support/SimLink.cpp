#include "SimLink.h"

#include <QCoreApplication>
#include <stdexcept>

#include "Func.h"

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
