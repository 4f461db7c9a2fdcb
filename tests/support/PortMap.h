// The communication library's own port map, comm_mb.ini beside it, which
// the tests write to reach a simulated module as COM1.
#pragma once

#include <QString>

QString PortMapPath();
// Replaces the file with `text`; false when it could not be written.
bool WritePortMap(const QString& text);
