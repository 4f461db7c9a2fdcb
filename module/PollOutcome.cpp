#include "PollOutcome.h"

#include <QDateTime>
#include <QElapsedTimer>

#include "Registers.h"

PollClock PollClocks = {[] { return QDateTime::currentMSecsSinceEpoch(); },
                        [] {
                            static const QElapsedTimer start = [] {
                                QElapsedTimer t;
                                t.start();
                                return t;
                            }();
                            return start.elapsed();
                        }};

QString UnitText(uint16_t mode) {
    switch (mode) {
    case reg::ModeCurrent:
        return QStringLiteral("мкА");
    case reg::ModeVoltage:
        return QStringLiteral("мВ");
    default:
        return QStringLiteral("мВ/мкА");
    }
}
