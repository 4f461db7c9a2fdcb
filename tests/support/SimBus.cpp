#include "SimBus.h"

#include <stdexcept>

#include "Func.h"
#include "Registers.h"

sim::Options LineModule(uint8_t address, const char* serial, int baud, int parity, uint16_t type) {
    sim::Options o;
    o.address = address;
    o.serial = reg::EncodeSerial(serial[0] - 'A', QByteArray(serial + 1).toInt());
    o.baud = baud;
    o.parity = parity;
    o.typeCode = type;
    return o;
}

uint16_t SerialAtTheToolsLink() {
    uint16_t serial = 0;
    ReadRegister(reg::SerialNumber, serial);
    return serial;
}

SimBus::SimBus(const std::vector<sim::Options>& modules, int32_t baud, uint8_t parity)
    : line_(std::make_unique<sim::SimLine>(modules)) {
    if (!Comm.invoke_modb && !LoadCommLibrary())
        throw std::runtime_error("the communication library did not bind");
    PortName = port();
    BaudRate = baud;
    ParityIndex = parity;
    ModuleAddress = 1;
    opened_ = OpenPort(PortName, BaudRate, ParityIndex);
}

SimBus::~SimBus() = default;

QString SimBus::port() const {
    return QString::fromStdString(line_->devicePath());
}

bool SimBus::anyWrite() const {
    if (!line_)
        return false;
    for (std::size_t i = 0; i < line_->size(); ++i)
        for (const sim::Request& r : line_->module(i).requests())
            if (r.function != 3)
                return true;
    return false;
}
