// A made-up device tree in the shapes Linux gives (see SerialDevices.h), for
// the port settings dialog's device list: point SerialDeviceRoot at `root`.
#pragma once

#include <QString>

// A USB serial adapter: /dev/<tty>, a /dev/serial/by-id/<byId> link to it, and
// its USB device under /sys with the maker's and the product's names.
void MakeUsbAdapter(const QString& root, const QString& tty, const QString& byId,
                    const QByteArray& maker, const QByteArray& product);
