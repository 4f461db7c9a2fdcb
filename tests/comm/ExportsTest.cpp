// The built library as the tool sees it: loaded by file name, its three
// entry points looked up by name, the port mapping read from comm_mb.ini
// beside it.
#include "Pty.h"
#include "comm_mb.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

class LoadedLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        handle = dlopen(COMM_MB_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        init = reinterpret_cast<init_comm_fn>(dlsym(handle, "init_comm"));
        invoke = reinterpret_cast<invoke_modb_fn>(dlsym(handle, "invoke_modb"));
        enumerate = reinterpret_cast<EnumParameters_fn>(dlsym(handle, "EnumParameters"));
        ASSERT_NE(init, nullptr);
        ASSERT_NE(invoke, nullptr);
        ASSERT_NE(enumerate, nullptr);
    }
    void TearDown() override {
        if (handle != nullptr) {
            dlclose(handle);
        }
    }

    void* handle = nullptr;
    init_comm_fn init = nullptr;
    invoke_modb_fn invoke = nullptr;
    EnumParameters_fn enumerate = nullptr;
};

} // namespace

TEST_F(LoadedLibrary, ExportsOnlyTheEntryPoints) {
    // The library's inner pieces stay hidden.
    EXPECT_EQ(dlsym(handle, "_ZN4comm4Link5closeEv"), nullptr);

    uint16_t word = 0;
    EXPECT_EQ(invoke(1, 5, 0, 1, &word), COMM_BAD_FUNCTION);
    EXPECT_EQ(invoke(1, 3, 0, 1, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(init("", 19200, 2), COMM_OPEN_FAILED);
    EXPECT_EQ(invoke(1, 3, 0, 1, &word), COMM_NOT_OPEN);
    int32_t baud = 0;
    uint8_t parity = 0;
    EXPECT_EQ(enumerate("COM1", 17, 0x082A, 1, nullptr, &parity), COMM_BAD_BUFFER);
    EXPECT_EQ(enumerate("COM1", 17, 0x082A, 0, &baud, &parity), COMM_BAD_PARAMETER);

    // The optional fourth: its buffers checked, the frames of the calls above there.
    const auto frames = reinterpret_cast<read_frames_fn>(dlsym(handle, "read_frames"));
    ASSERT_NE(frames, nullptr);
    comm_frame f[2] = {};
    int32_t count = -1;
    constexpr int32_t size = sizeof(comm_frame);
    EXPECT_EQ(frames(0, f, 2, size, nullptr, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(frames(0, nullptr, 2, size, &count, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(frames(0, f, -1, size, &count, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(frames(0, f, 2, size - 8, &count, nullptr), COMM_BAD_BUFFER);
    EXPECT_EQ(frames(0, nullptr, 0, size, &count, nullptr), COMM_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(LoadedLibrary, MapsComNamesThroughItsSettingsFile) {
    const auto ini = std::filesystem::path(COMM_MB_LIBRARY_FILE).parent_path() / "comm_mb.ini";
    if (std::filesystem::exists(ini)) {
        GTEST_SKIP() << "a comm_mb.ini of someone else's lies beside the library";
    }
    commtest::Pty pty;
    pty.respond([](const commtest::Bytes& r) { return commtest::withCrc({r[0], 3, 2, 0x00, 17}); });
    std::ofstream(ini) << "[Ports]\nCOM200=" << pty.path() << "\n";
    struct Remove {
        std::filesystem::path file;
        ~Remove() { std::filesystem::remove(file); }
    } remove{ini};

    ASSERT_EQ(init("com200", 28800, 1), COMM_OK);
    const auto line = commtest::probeLine(pty.path());
    EXPECT_EQ(line.ospeed, 28800u);
    EXPECT_TRUE(line.odd && !line.twoStopBits);
    uint16_t word = 0;
    EXPECT_EQ(invoke(1, 3, 768, 1, &word), COMM_OK);
    EXPECT_EQ(word, 17);

    // Unmapped: /dev/ttyS200, which no machine has.
    EXPECT_EQ(init("COM201", 9600, 0), COMM_OPEN_FAILED);
    EXPECT_EQ(invoke(1, 3, 768, 1, &word), COMM_NOT_OPEN);
}
