// Where the settings files go on Windows: beside the program when its folder
// takes files and is not in Program Files, else in %APPDATA%\QS730_View.
// Run under wine, which keeps no access rights of its own: a folder that
// cannot take files is one that does not exist.
#include "SettingsFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

// An environment variable set (or removed) for the lifetime of the object.
class EnvVar {
  public:
    EnvVar(const wchar_t* name, const std::optional<std::wstring>& value) : name_(name) {
        const fs::path old = comm::settings_folder::environmentPath(name);
        if (!old.empty())
            old_ = old.wstring();
        ::SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }
    ~EnvVar() { ::SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

  private:
    const wchar_t* name_;
    std::optional<std::wstring> old_;
};

// The names in a folder, for "nothing was left behind".
std::wstring Listing(const fs::path& folder) {
    std::wstring names;
    for (const auto& entry : fs::directory_iterator(folder))
        names += entry.path().filename().wstring() + L";";
    return names;
}

} // namespace

TEST(SettingsFolderWindows, BesideTheProgramOrInAppData) {
    const fs::path scratch =
        fs::temp_directory_path() / (L"qs730_settings_" + std::to_wstring(::GetCurrentProcessId()));
    const fs::path programFiles = scratch / L"Program Files";
    const fs::path programFilesX86 = scratch / L"Program Files (x86)";
    const fs::path appData = scratch / L"AppData" / L"Roaming";
    for (const fs::path& folder :
         {programFiles / L"QS730_View", programFilesX86 / L"QS730_View",
          scratch / L"Program Files Extra", scratch / L"portable", appData})
        fs::create_directories(folder);
    const std::wstring inAppData = (appData / L"QS730_View").wstring();

    const struct {
        const char* name;
        fs::path folder;
        std::optional<std::wstring> appData; // nullopt: not set
        std::wstring expect;
    } cases[] = {
        {"a writable folder keeps its settings", scratch / L"portable", appData.wstring(),
         (scratch / L"portable").wstring()},
        {"the same folder written with slashes", (scratch / L"portable").generic_wstring(),
         appData.wstring(), (scratch / L"portable").generic_wstring()},
        {"installed into Program Files", programFiles / L"QS730_View", appData.wstring(),
         inAppData},
        {"Program Files in other letters' case", scratch / L"PROGRAM FILES" / L"qs730_view",
         appData.wstring(), inAppData},
        {"Program Files named with .. on the way",
         scratch / L"portable" / L".." / L"Program Files" / L"QS730_View", appData.wstring(),
         inAppData},
        {"Program Files (x86)", programFilesX86 / L"QS730_View", appData.wstring(), inAppData},
        {"a folder whose name only begins like Program Files", scratch / L"Program Files Extra",
         appData.wstring(), (scratch / L"Program Files Extra").wstring()},
        {"a folder that takes no files", scratch / L"missing", appData.wstring(), inAppData},
        {"Program Files without APPDATA", programFiles / L"QS730_View", std::nullopt,
         (programFiles / L"QS730_View").wstring()},
        {"Program Files with a relative APPDATA", programFiles / L"QS730_View",
         std::wstring(L"AppData"), (programFiles / L"QS730_View").wstring()},
    };
    const EnvVar x64(L"ProgramFiles", programFiles.wstring());
    const EnvVar w6432(L"ProgramW6432", programFiles.wstring());
    const EnvVar x86(L"ProgramFiles(x86)", programFilesX86.wstring());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const EnvVar app(L"APPDATA", c.appData);
        EXPECT_EQ(comm::settingsFolder(c.folder).wstring(), c.expect);
    }
    // Choosing leaves nothing behind, and makes no folder.
    EXPECT_EQ(Listing(scratch / L"portable"), L"");
    EXPECT_EQ(Listing(appData), L"");
    fs::remove_all(scratch);
}
