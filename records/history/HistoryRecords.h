// The entries the tool makes from what it already has in hand: the module's
// identity when it connects, a calibration or an accuracy check and their
// protocol's files, a configuration saved, compared or written, a passport
// or link write, a restart counter reading, an interval set.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "AccuracyCheck.h"
#include "Calibration.h"
#include "Configuration.h"
#include "HistoryEntry.h"
#include "Protocol.h"
#include "RecordFile.h"
#include "ServiceParams.h"

namespace History {

// "A0042": the registration number the history files a module under.
QString RegistrationOf(uint16_t serialWord);

// The module answered: its identity, and where (port, address).
Entry SeenEntry(const ModuleRecordId& id, const QString& where);

// A check's points as the history keeps them.
QJsonArray PointsJson(const std::vector<PointResult>& points);

// A calibration or a check alone as its protocol has it, with the protocol's
// files (name and SHA-256) once it was saved.
Entry ProtocolEntry(const ProtocolData& data, const QList<RecordFile>& files = {});
// An accuracy check the technician ran.
Entry CheckEntry(const CheckResult& check, const QString& technician);

// A configuration saved to, compared with, or written from a file, with the
// file's content.
Entry ConfigEntry(Kind kind, const config::Configuration& module, const QString& path,
                  const QByteArray& content, const QString& outcome = QString());

// The passport or the link written: what it was, what was asked, how it went.
Entry PassportEntry(uint16_t serialBefore, uint16_t serialAfter, int typeCode,
                    const QString& manufactured);
Entry LinkEntry(const module::ModuleLinkOutcome& outcome, int typeCode);

// The restart counter read, or set back to zero (`cleared`).
Entry RestartsEntry(uint16_t serialWord, int typeCode, int count, bool cleared);

// The calibration interval for a module (`registration`), or for every
// module of a type (an empty `registration`).
Entry IntervalEntry(const QString& registration, int typeCode, int months);

} // namespace History
