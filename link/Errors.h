// The exceptions of the tool. Every error travels as one of these and ends in
// the application's standard error box; none is a return code.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The general exception: a message for the user, nothing else.
class Exception : public std::exception {
  public:
    explicit Exception(QString message);
    const QString& message() const noexcept { return msg_; }
    const char* what() const noexcept override { return utf8_.constData(); }

  private:
    QString msg_;
    QByteArray utf8_;
};

// A failed exchange with the module. Built from the library's result code of
// the last attempt; keeps only the message.
class ECommError : public Exception {
  public:
    explicit ECommError(int code);
    static QString messageFor(int code);
};

// A path as the messages show it: native separators, in «…», so that a full
// stop after it is not taken for part of the name.
QString QuotedPath(const QString& path);

// The toolkit-style conversion errors ("'%s' is not a valid integer value").
class EConvertError : public Exception {
  public:
    using Exception::Exception;
};
