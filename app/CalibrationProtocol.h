// The calibration protocol drawn as a PDF file with Qt's own writer: A4, in
// Russian, every page with the program's name and version and "Стр. n из m"
// in its footer.
#pragma once

#include <QString>

#include "Protocol.h"

// "QS730_View 1.0.0.0": product name and file version from the version block.
QString ProgramNameAndVersion();

// Writes the protocol to `path`. Throws Exception when the file cannot be
// written.
void WriteProtocolPdf(const ProtocolData& data, const QString& path);
