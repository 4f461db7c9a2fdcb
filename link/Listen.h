// Listening to a line without sending, through the communication library's
// optional listen_start, listen_read and listen_stop: on a port the tool does
// not poll, or on the tool's own port, which the library then gives up to
// listening and the periodic poll leaves alone until listening ends. The
// library never writes while it listens. Without those entry points the mode
// is off, and says why.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "Func.h"
#include "comm_mb.h"

namespace listening {

// Whether the library can listen; why not, one sentence, when it cannot.
bool Available();
QString UnavailableReason();

// Starts listening on `port` at `baud` and `parity` (0 none, 1 odd, 2 even),
// ending listening before. On the port of the tool's own link (PortName) the
// periodic poll is held until Stop. Returns an empty string, or why not in
// one sentence ("Порт ... не открыт для прослушивания: ...").
QString Start(const QString& port, int32_t baud, uint8_t parity);
// Takes what was heard since the last call, never waiting. `ended` becomes
// true once listening has ended on its own (the port failed): the frames
// before it are still handed out. `lost` gets the frames the library dropped
// since the last call, its ring being full.
std::vector<comm_heard> Take(bool& ended, uint64_t& lost);
// Ends listening; on the tool's own port the link is opened again as it was
// set. Harmless when nothing listens.
void Stop();
bool Listening();
// The port listened to, or empty.
QString Port();

} // namespace listening
