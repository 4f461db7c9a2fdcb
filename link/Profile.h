// A settings file with the semantics of a Windows profile (INI) file, kept as
// the bytes it is made of: reading and writing follow the line rules of
// IniText.h, values are text in the local 8-bit encoding (UTF-8 on Linux, the
// ANSI code page on Windows), and a save changes the lines of the keys it
// sets and no other byte of the file.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

class ProfileFile {
  public:
    explicit ProfileFile(QString path);
    // A file that takes over from an older one elsewhere: while `path` does
    // not exist, every read comes from `older`, and the first write starts
    // from the whole of `older` (every section, every byte), so that the
    // settings in use are always one file. `older` itself is never written;
    // one that cannot be read reads, and is taken over, as empty. An `older`
    // that is `path` itself, or empty, is none.
    ProfileFile(QString path, QString older);
    const QString& path() const { return path_; }
    // The file the reads come from now: `path`, or the older one while
    // `path` does not exist.
    QString inUse() const;

    // The value of a key, or `def` when the file, the section or the key is
    // missing. An empty value is returned as empty.
    QString readString(const QString& section, const QString& key, const QString& def) const;
    // A number as IniText.h reads it (decimal with an optional sign, or
    // hexadecimal after "0x"/"0X"); anything else gives `def`.
    int32_t readInteger(const QString& section, const QString& key, int32_t def) const;

    struct Entry {
        QString section;
        QString key;
        QString value;
    };
    // Sets the keys in this order and replaces the file with the result at
    // once: a crash leaves either the old file or the new one. A key that is
    // missing goes after the last line of its section; a missing section is
    // appended at the end of the file. A missing folder of the file is made
    // (owner only). A symbolic link is written through to its target, which
    // must be a regular file (or missing); the file keeps its permissions. A
    // failure leaves the file as it was and throws Exception
    // "Unable to write to «<path>»".
    void write(const QList<Entry>& entries);
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int32_t value);

    // A save writes the new file beside the old one as
    // "<file name>.saving-XXXXXX" (six letters or digits) and renames it over
    // the old one. Removes such files that a killed save left behind.
    static void removeSaveLeftovers(const QString& path);

  private:
    QString path_;
    QString older_;
};
