// The CSV the tool writes for spreadsheets in a Russian locale: UTF-8 with a
// byte-order mark, fields separated by ';', lines ended by CR LF. Shared by
// the measurement log and the calibration protocol's copy.
#pragma once

#include <QByteArray>
#include <QString>

namespace csv {

inline const QByteArray Bom = QByteArrayLiteral("\xEF\xBB\xBF");
inline const QByteArray LineEnd = QByteArrayLiteral("\r\n");
constexpr char Separator = ';';

// A field as a spreadsheet reads it back: quoted when it holds the
// separator, a quote or a line break.
inline QByteArray Field(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    if (!utf8.contains(Separator) && !utf8.contains('"') && !utf8.contains('\n') &&
        !utf8.contains('\r'))
        return utf8;
    return '"' + utf8.replace('"', "\"\"") + '"';
}

} // namespace csv
