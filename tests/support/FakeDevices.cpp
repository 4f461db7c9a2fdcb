#include "FakeDevices.h"

#include <QDir>
#include <QFile>

namespace {

void Write(const QString& path, const QByteArray& data) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

} // namespace

void MakeUsbAdapter(const QString& root, const QString& tty, const QString& byId,
                    const QByteArray& maker, const QByteArray& product) {
    const QString usbDevice = QStringLiteral("devices/pci0000:00/usb1/1-") + tty;
    const QString sys = root + QStringLiteral("/sys/");
    QDir().mkpath(sys + usbDevice + QStringLiteral("/1-1:1.0/") + tty);
    Write(sys + usbDevice + QStringLiteral("/manufacturer"), maker + '\n');
    Write(sys + usbDevice + QStringLiteral("/product"), product + '\n');
    QDir().mkpath(sys + QStringLiteral("class/tty/") + tty);
    QFile::link(QStringLiteral("../../../") + usbDevice + QStringLiteral("/1-1:1.0/") + tty,
                sys + QStringLiteral("class/tty/") + tty + QStringLiteral("/device"));
    QDir().mkpath(root + QStringLiteral("/dev/serial/by-id"));
    Write(root + QStringLiteral("/dev/") + tty, QByteArray());
    QFile::link(QStringLiteral("../../") + tty, root + QStringLiteral("/dev/serial/by-id/") + byId);
}
