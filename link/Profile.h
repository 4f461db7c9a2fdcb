// A settings file with the semantics of a Windows profile (INI) file, kept as
// the bytes it is made of: reading and writing follow the line rules of
// IniText.h, values are text in the local 8-bit encoding (UTF-8 on Linux, the
// ANSI code page on Windows), and a save changes the lines of the keys it
// sets and no other byte of the file.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <functional>

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
    // The same within `min` to `max`, or one of `allowed`. A number outside
    // them (also one too long for 32 bits) is read as missing, `def`, and
    // noted (noteIgnored); nothing is written.
    int32_t readInteger(const QString& section, const QString& key, int32_t def, int32_t min,
                        int32_t max) const;
    int32_t readInteger(const QString& section, const QString& key, int32_t def,
                        const QList<int32_t>& allowed) const;
    // Notes that the entry's value `value` lay outside what it may be
    // (`allowed`, as the message says it) and `used` is in force instead:
    // it goes to TakeIgnoredSettings once per run for this file, entry and value.
    void noteIgnored(const QString& section, const QString& key, const QString& value,
                     const QString& allowed, const QString& used) const;

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
    int32_t readFitting(const QString& section, const QString& key, int32_t def,
                        const std::function<bool(int32_t)>& fits, const QString& allowed) const;

    QString path_;
    QString older_;
};

// An entry of a settings file whose value lay outside its range and was read
// as missing; the file keeps it as it is.
struct IgnoredSetting {
    QString file; // the file read (ProfileFile::inUse())
    QString section;
    QString key;
    QString value;   // as the file holds it
    QString allowed; // "от 0 до 2", "1200, 2400, …"
    QString used;    // the value in force instead
};

// The entries noted since the last call, each file, entry and value once per
// run (a value told before is not told again), in the order they were read.
QList<IgnoredSetting> TakeIgnoredSettings();
