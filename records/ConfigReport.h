// The record of a configuration written from a file into a module, and its
// report as PDF: which file, which module, what was sent, what the module
// held before and what it read back afterwards.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

#include "Configuration.h"

struct ConfigWriteRecord {
    QDateTime when;
    QString path;                       // the configuration file
    config::Configuration file;         // what it holds
    config::Configuration before;       // the module before the write
    config::Configuration after;        // read back afterwards, as far as it answered
    std::vector<config::Param> written; // sent and taken by the module
    QString outcome;                    // what the tool said at the end

    bool wasWritten(config::Param p) const;
};

// The report as the bytes of a PDF file (A4, Russian, with the protocol's
// footer on every page).
QByteArray ConfigReportPdf(const ConfigWriteRecord& r);
