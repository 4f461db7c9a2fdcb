#include "Listen.h"

#include <algorithm>
#include <cerrno>

namespace listening {

namespace {

struct State {
    QString port;
    bool own = false;    // the tool's own port
    bool reopen = false; // the link was open on it
    bool listening = false;
    std::unique_ptr<PollHold> hold;
};

State& state() {
    static State s;
    return s;
}

} // namespace

bool Available() {
    return Comm.listen_start != nullptr && Comm.listen_read != nullptr &&
           Comm.listen_stop != nullptr;
}

QString UnavailableReason() {
    if (Available())
        return QString();
    return QStringLiteral("Библиотека связи comm_mb не умеет слушать линию (нет функций "
                          "listen_start, listen_read, listen_stop): прослушивание недоступно.");
}

QString Start(const QString& port, int32_t baud, uint8_t parity) {
    Stop();
    if (!Available())
        return UnavailableReason();
    State& s = state();
    s.own = port.compare(PortName, Qt::CaseInsensitive) == 0;
    if (s.own)
        s.hold = std::make_unique<PollHold>();
    errno = 0;
    const int32_t rc = Comm.listen_start(port.toLocal8Bit().constData(), baud, parity);
    const int error = errno;
    if (rc != COMM_OK) {
        s.hold.reset();
        s.own = false;
        QString why;
        if (rc == COMM_BAD_PARAMETER)
            why = QStringLiteral("недопустимая скорость или чётность");
        else if (error == EINVAL && !IsNetworkPort(port))
            why = QStringLiteral("драйвер не принял скорость %1 бод").arg(baud);
        else
            why = OpenFailureReason(error, port);
        if (why.isEmpty())
            why = QStringLiteral("код %1").arg(rc);
        return QStringLiteral("Порт %1 не открыт для прослушивания: %2.").arg(port, why);
    }
    s.port = port;
    s.listening = true;
    // The library gave up the link on this port: it is opened again at Stop.
    s.reopen = s.own;
    if (s.own)
        ShowLinkState(false);
    return QString();
}

std::vector<comm_heard> Take(bool& ended, uint64_t& lost) {
    ended = false;
    lost = 0;
    std::vector<comm_heard> all;
    if (!state().listening || !Available())
        return all;
    comm_heard chunk[128];
    // A bounded number of rounds: a babbling line cannot keep the caller here.
    for (int round = 0; round < 64; ++round) {
        int32_t count = 0;
        uint64_t dropped = 0;
        const int32_t rc = Comm.listen_read(chunk, 128, sizeof(comm_heard), 0, &count, &dropped);
        lost += dropped;
        all.insert(all.end(), chunk, chunk + std::max(count, 0));
        if (rc == COMM_NOT_OPEN) {
            ended = true;
            break;
        }
        if (rc != COMM_OK || count < 128)
            break;
    }
    for (const comm_heard& h : all)
        if (h.code == COMM_HEARD_FAILED)
            ended = true;
    return all;
}

void Stop() {
    State& s = state();
    if (!s.listening)
        return;
    if (Comm.listen_stop)
        Comm.listen_stop();
    s.listening = false;
    s.port.clear();
    if (s.reopen) {
        const bool opened = OpenLineAt(PortName, BaudRate, ParityIndex) == COMM_OK;
        ShowLinkState(opened);
    }
    s.reopen = false;
    s.own = false;
    s.hold.reset();
}

bool Listening() {
    return state().listening;
}

QString Port() {
    return state().port;
}

} // namespace listening
