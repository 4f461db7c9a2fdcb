// The program's version information, queried the way the Windows version
// library does it: "\StringFileInfo\<block>\<key>", the block being language
// and code page in hex ("041904E3": Russian, code page 1251).
//
// On Windows it is the executable's version resource, read with the wide
// calls of the version library (GetFileVersionInfoSizeW, GetFileVersionInfoW,
// VerQueryValueW), since its strings are UTF-16. Elsewhere there is no such
// resource, so the build compiles the same string table into the program.
#pragma once

#include <QString>
#include <map>
#include <optional>
#include <vector>

class VersionInfo {
  public:
    // Block name -> key -> value.
    using StringTable = std::map<QString, QString>;
    using Blocks = std::map<QString, StringTable>;

    // The block the tool's texts live in.
    static inline const QString Block = QStringLiteral("041904E3");

    // The running program's version information; nothing when it has none.
    static std::optional<VersionInfo> ofRunningProgram();

    // An explicit table (the built-in block, or a test's own).
    explicit VersionInfo(Blocks blocks);

    // The value at "\StringFileInfo\<block>\<key>" (names compared without
    // regard to case); nothing when the block or the key is missing.
    std::optional<QString> query(const QString& path) const;
    // The value of `key` in the tool's block (Block).
    std::optional<QString> value(const QString& key) const;

  private:
    VersionInfo() = default;

    Blocks blocks_;
#ifdef _WIN32
    std::vector<char> resource_; // what GetFileVersionInfoW read, when it is used
#endif
};

// The string table the build puts into the program (generated from the
// project's name, version and the texts set in link/CMakeLists.txt).
VersionInfo::Blocks BuiltInVersionBlocks();

// "QS730_View 1.0.0.0": the running program's product name and file version
// from its version block, as its records name it (the footer of every PDF,
// the configuration file's "program").
QString ProgramNameAndVersion();
