#include "ListenStats.h"

#include "Rtu.h"

#include <QByteArray>
#include <QLocale>
#include <algorithm>
#include <cstring>

namespace {

bool IsException(const comm_heard& h) {
    return h.length >= 2 && (h.data[1] & 0x80) != 0;
}

// The length a request of the frame's function has, 0 for a function whose
// length is not known here.
int RequestLength(const comm_heard& h) {
    return std::max(0, rtu::requestLength(h.data, h.length));
}

// Whether `h` has the form of the reply to `request`: from its address, of
// its function or that function's exception, as long as that reply is.
bool Answers(const comm_heard& h, const comm_heard& request) {
    if (h.length < 5 || h.data[0] != request.data[0])
        return false;
    const uint8_t function = request.data[1];
    if (h.data[1] == (function | 0x80))
        return h.length == 5;
    if (h.data[1] != function)
        return false;
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
        return h.length == 5 + h.data[2];
    case 5:
    case 6:
    case 15:
    case 16:
        return h.length == 8;
    default:
        return true; // a function of its own: whatever came back
    }
}

comm_frame AsFrame(const comm_heard& h, uint8_t kind, int32_t code) {
    comm_frame f{};
    f.number = h.number;
    f.time_us = h.time_us;
    f.end_us = h.end_us;
    f.wall_us = h.wall_us;
    f.reply_us = -1;
    f.baud = h.baud;
    f.parity = h.parity;
    f.kind = kind;
    f.code = code;
    f.length = h.length;
    std::memcpy(f.data, h.data, h.length);
    return f;
}

QString LowerFirst(QString s) {
    if (!s.isEmpty())
        s[0] = s[0].toLower();
    return s;
}

QString Ms(int64_t us) {
    static const QLocale russian(QLocale::Russian, QLocale::Russia);
    return russian.toString(static_cast<double>(us) / 1000.0, 'f', 1);
}

QString SpoiltText(const comm_heard& h) {
    switch (h.code) {
    case COMM_HEARD_BAD_CRC:
        return QStringLiteral("CRC неверна");
    case COMM_HEARD_CUT:
        return QStringLiteral("кадр оборван: %1 байт").arg(h.length);
    case COMM_HEARD_NOISE:
        return QStringLiteral("байты, не образующие кадра");
    case COMM_HEARD_LONG:
        return QStringLiteral("длиннее любого кадра Modbus: ещё %1 байт не показаны")
            .arg(h.dropped);
    case COMM_HEARD_FAILED:
        return QStringLiteral("порт отказал, прослушивание остановлено");
    default:
        return QStringLiteral("неизвестная запись (код %1)").arg(h.code);
    }
}

} // namespace

HeardRow ListenPairing::take(const comm_heard& h) {
    HeardRow row;
    row.frame = h;
    if (h.code == COMM_HEARD_FAILED) {
        pending_ = false;
        row.failed = true;
        return row;
    }
    const bool joined = (h.flags & COMM_HEARD_JOINED) != 0;
    if (h.code != COMM_HEARD_FRAME) {
        // Spoilt: the reply of the request before it, if one was owed.
        row.failed = true;
        if (pending_)
            row.address = request_.data[0];
        else if ((h.code == COMM_HEARD_BAD_CRC || h.code == COMM_HEARD_CUT) && h.length >= 1 &&
                 h.data[0] >= 1 && h.data[0] <= 247)
            row.address = h.data[0]; // what looks like a frame, by its first byte
        pending_ = false;
        ++stats_[row.address].faults;
        return row;
    }
    if (pending_ && Answers(h, request_)) {
        // An adapter may hand a reply on together with its request.
        row.role = HeardRow::Role::Reply;
        row.address = h.data[0];
        row.request = shape_;
        row.replyUs = std::max<int64_t>(h.time_us - request_.end_us, 0);
        pending_ = false;
        AddressStats& s = stats_[row.address];
        ++s.replies;
        s.slowestUs = std::max(s.slowestUs, row.replyUs);
        if (IsException(h)) {
            ++s.exceptions;
            ++s.faults;
            row.failed = true;
        }
        return row;
    }
    const int wanted = RequestLength(h);
    if (wanted == h.length || (wanted == 0 && !IsException(h) && h.length >= 4)) {
        if (pending_)
            ++stats_[request_.data[0]].unanswered;
        row.role = HeardRow::Role::Request;
        row.address = h.data[0];
        AddressStats& s = stats_[row.address];
        ++s.requests;
        if (joined) { // no master sends without the silence before
            row.failed = true;
            ++s.faults;
        }
        // A broadcast gets no answer.
        pending_ = h.data[0] != 0;
        request_ = h;
        shape_ = ShapeOfRequest(AsFrame(h, COMM_FRAME_REQUEST, COMM_OK));
        return row;
    }
    // A whole frame that answers nothing heard.
    if (pending_)
        ++stats_[request_.data[0]].unanswered;
    pending_ = false;
    row.address = h.data[0];
    row.failed = true;
    ++stats_[row.address].faults;
    return row;
}

void ListenPairing::clear() {
    pending_ = false;
    stats_.clear();
}

QStringList ListenPairing::statsLines() const {
    QStringList lines;
    for (const auto& [address, s] : stats_) {
        QString line = address == UnknownAddress ? QStringLiteral("адрес неизвестен: ")
                       : address == 0            ? QStringLiteral("всем (адрес 0): ")
                                                 : QStringLiteral("адрес %1: ").arg(address);
        line += QStringLiteral("запросов %1, ответов %2, исключений %3, без ответа %4, сбоев %5")
                    .arg(s.requests)
                    .arg(s.replies)
                    .arg(s.exceptions)
                    .arg(s.unanswered)
                    .arg(s.faults);
        if (s.slowestUs >= 0)
            line += QStringLiteral(", самый долгий ответ %1 мс").arg(Ms(s.slowestUs));
        lines << line;
    }
    return lines;
}

FrameMeaning HeardMeaning(const HeardRow& row) {
    const comm_heard& h = row.frame;
    FrameMeaning m;
    m.failed = row.failed;
    const QString who = row.address == 0  ? QStringLiteral("всем: ")
                        : row.address > 0 ? QStringLiteral("адрес %1: ").arg(row.address)
                                          : QString();
    switch (row.role) {
    case HeardRow::Role::Request:
        m.text = who + LowerFirst(MeaningOf(AsFrame(h, COMM_FRAME_REQUEST, COMM_OK), {}).text);
        break;
    case HeardRow::Role::Reply: {
        const int32_t code = IsException(h) ? int32_t{h.data[2]} : int32_t{COMM_OK};
        m.text = who + MeaningOf(AsFrame(h, COMM_FRAME_REPLY, code), row.request).text;
        break;
    }
    case HeardRow::Role::Other:
        if (h.code == COMM_HEARD_FRAME)
            m.text = who + QStringLiteral("ответ без запроса");
        else
            m.text = who + SpoiltText(h);
        break;
    }
    if (h.flags & COMM_HEARD_JOINED)
        m.text += QStringLiteral("; без паузы после предыдущего кадра");
    return m;
}

QString HeardHex(const comm_heard& h) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(h.data), h.length).toHex(' ').toUpper());
}
