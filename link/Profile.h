// A settings file with the semantics of a Windows profile (INI) file:
// section and key names case-insensitive, values as text, one key written at
// a time with every other line kept.
#pragma once

#include <QString>
#include <cstdint>

class ProfileFile {
  public:
    explicit ProfileFile(QString path);
    const QString& path() const { return path_; }

    // The value of a key (blanks around it trimmed), or `def` when the
    // section or key is missing. An empty value is returned as empty.
    QString readString(const QString& section, const QString& key, const QString& def) const;
    // Decimal, or hexadecimal after "0x"/"0X" (longer than two characters);
    // an empty or unconvertible value gives `def`.
    int32_t readInteger(const QString& section, const QString& key, int32_t def) const;

    // Sets one key, keeping every other line. A missing section is appended
    // at the end of the file. The file is replaced atomically; a failure
    // throws Exception "Unable to write to <path>".
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int32_t value);

  private:
    QString path_;
};
