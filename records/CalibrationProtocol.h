// The protocol of a calibration or of a check drawn as a PDF with Qt's own
// writer: A4, in Russian, every page with the program's name and version and
// "Стр. n из m" in its footer.
#pragma once

#include <QByteArray>
#include <QString>

#include "Protocol.h"

// The protocol as the bytes of a PDF file, to be saved as a record file.
QByteArray ProtocolPdf(const ProtocolData& data);
