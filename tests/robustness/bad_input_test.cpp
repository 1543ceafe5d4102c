// Bad files and paths, each run through the built lumacor: a clear message
// where the user needs one, a normal exit, and nothing written where nothing
// should be. Cases that rely on file permissions run the program as an
// unprivileged user when the tests run as root. (No argument, a missing ROM,
// a directory as ROM, a short save file and a long ROM path are covered with
// the program's start-up in tests/e2e_machine.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "robustness_util.h"

namespace fs = std::filesystem;

namespace {

// `lumacor` is the command that starts it: the built program, or the
// unprivileged runner's.
std::vector<std::string> command(const std::vector<std::string>& lumacor, const std::string& rom) {
    std::vector<std::string> argv = lumacor;
    argv.push_back(rom);
    return argv;
}

// For a ROM that never stops (an empty machine runs NOPs forever): waits for
// the frame loop, then asks the program to quit as a window close would.
ProcessResult run_then_terminate(const std::vector<std::string>& argv) {
    ChildProcess child;
    if (!Process_start(&child, argv, dummy_drivers())) return {};
    bool running = wait_for_output(&child, LOOP_RUNNING, 30s);
    Process_signal(&child, SIGTERM);
    ProcessResult result = Process_wait(&child, 30s);
    if (!running) result.err += "\n(the frame loop never started)";
    return result;
}

void expect_not_opened(const std::string& rom, const std::vector<std::string>& lumacor = {LUMACOR_BIN}) {
    ProcessResult result = run_then_terminate(command(lumacor, rom));
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("File could not be opened: " + rom + "\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Writing save"), std::string::npos);
    EXPECT_FALSE(fs::exists(rom + ".sav"));
}

void expect_saved(const ProcessResult& result, const std::string& rom) {
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("Writing save to " + rom + ".sav\n"), std::string::npos) << result.out;
    std::vector<unsigned char> saved = read_bytes(rom + ".sav");
    ASSERT_EQ(saved.size(), 4096u);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 5), "SAVED");
}

#define REQUIRE_UNPRIVILEGED()                                                                   \
    do {                                                                                         \
        if (!unprivileged().available) GTEST_SKIP() << unprivileged().reason;                    \
    } while (0)

TEST(BadRom, FileWithoutReadPermissionIsReported) {
    REQUIRE_UNPRIVILEGED();
    TempDir dir;
    open_to_everyone(dir.path);
    std::string rom = dir.file("locked.rom");
    copy_test_rom("halt_save", rom);
    fs::permissions(rom, fs::perms::none);
    expect_not_opened(rom, unprivileged().lumacor);
}

// Opening a named pipe for reading would wait for a writer forever.
TEST(BadRom, NamedPipeIsReportedWithoutWaiting) {
    TempDir dir;
    std::string rom = dir.file("pipe.rom");
    ASSERT_EQ(::mkfifo(rom.c_str(), 0644), 0);
    expect_not_opened(rom);
}

TEST(BadRom, EmptyFileRunsAnEmptyMachine) {
    TempDir dir;
    std::string rom = dir.file("empty.rom");
    write_bytes(rom, {});
    ProcessResult result = run_then_terminate({LUMACOR_BIN, rom});
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out.find("File could not be opened"), std::string::npos);
    EXPECT_EQ(read_bytes(rom + ".sav"), std::vector<unsigned char>(4096, 0));
}

TEST(BadRom, TwentyMillionByteFileLoadsItsFirstSixteenMillion) {
    TempDir dir;
    std::string rom = dir.file("huge.rom");
    int fd = ::open(rom.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 20'000'000), 0); // sparse: zeros that take no disk
    const unsigned char halt = 0xFF;
    ASSERT_EQ(::pwrite(fd, &halt, 1, 0x0100), 1);
    ::close(fd);
    ProcessResult result = Process_run({LUMACOR_BIN, rom}, dummy_drivers());
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out.find("File could not be opened"), std::string::npos);
    EXPECT_EQ(read_bytes(rom + ".sav").size(), 4096u);
}

TEST(RomPath, SpacesAndNonAsciiCharacters) {
    TempDir dir;
    std::string folder = dir.file("my roms \xC3\xA9t\xC3\xA9");                      // "my roms été"
    std::string rom = folder + "/\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0 no. 1 \xC3\xBC.rom"; // "ゲーム no. 1 ü.rom"
    fs::create_directory(folder);
    copy_test_rom("halt_save", rom);
    expect_saved(Process_run({LUMACOR_BIN, rom}, dummy_drivers()), rom);
}

// storage_echo reports the first 16 save RAM bytes, then writes "SAVED".
class BadSave : public testing::Test {
protected:
    TempDir dir;
    std::string rom = dir.file("game.rom");
    std::string save = rom + ".sav";
    void SetUp() override { copy_test_rom("storage_echo", rom); }
    ProcessResult run(const std::vector<std::string>& lumacor = {LUMACOR_BIN}) {
        return Process_run(command(lumacor, rom), dummy_drivers());
    }
};

std::vector<int> first_bytes(const std::vector<unsigned char>& bytes, size_t count) {
    std::vector<int> values(count, 0);
    for (size_t i = 0; i < count && i < bytes.size(); ++i) values[i] = bytes[i];
    return values;
}

TEST_F(BadSave, LongFileGivesItsFirst4096Bytes) {
    std::vector<unsigned char> old(5000);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<unsigned char>(i * 7 + 1);
    write_bytes(save, old);
    ProcessResult result = run();
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(test_port_values(result.out), first_bytes(old, 16));
    std::vector<unsigned char> expected(old.begin(), old.begin() + 4096);
    std::copy_n("SAVED", 5, expected.begin());
    EXPECT_EQ(read_bytes(save), expected);
}

TEST_F(BadSave, UnreadableFileIsReportedAndKept) {
    REQUIRE_UNPRIVILEGED();
    // The folder is writable for the program, so only the care taken keeps
    // the old file from being replaced.
    fs::permissions(dir.path, fs::perms::all);
    std::vector<unsigned char> old(4096, 0x3C);
    write_bytes(save, old);
    fs::permissions(save, fs::perms::none);
    ProcessResult result = run(unprivileged().lumacor);
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.err.find("Could not read save " + save + ": Permission denied; it is left as it is"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(test_port_values(result.out), std::vector<int>(16, 0)) << "the program starts from zero";
    EXPECT_NE(result.err.find("Could not write save " + save), std::string::npos) << result.err;
    fs::permissions(save, fs::perms::owner_read);
    EXPECT_EQ(read_bytes(save), old);
}

TEST_F(BadSave, DirectoryIsReportedAndKept) {
    fs::create_directory(save);
    ProcessResult result = run();
    ASSERT_TRUE(result.exited);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.err.find("Could not read save " + save + ": not a regular file"), std::string::npos)
        << result.err;
    EXPECT_EQ(test_port_values(result.out), std::vector<int>(16, 0));
    EXPECT_NE(result.err.find("Could not write save " + save), std::string::npos);
    EXPECT_TRUE(fs::is_directory(save));
}

TEST_F(BadSave, NamedPipeIsReportedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(save.c_str(), 0644), 0);
    ProcessResult result = run();
    ASSERT_TRUE(result.exited) << "timed out: " << result.timed_out;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.err.find("Could not read save " + save + ": not a regular file"), std::string::npos)
        << result.err;
    EXPECT_EQ(test_port_values(result.out), std::vector<int>(16, 0));
}

TEST(RomFolder, WhereNoFileCanBeWrittenTheSaveFailsClearlyAndTheRunEndsNormally) {
    REQUIRE_UNPRIVILEGED();
    TempDir dir;
    std::string folder = dir.file("read-only");
    fs::create_directory(folder);
    std::string rom = folder + "/game.rom";
    copy_test_rom("halt_save", rom);
    open_to_everyone(dir.path);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    ProcessResult result = Process_run(command(unprivileged().lumacor, rom), dummy_drivers());
    ASSERT_TRUE(result.exited) << result.err;
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(result.out.find("Writing save to " + rom + ".sav\n"), std::string::npos);
    EXPECT_NE(result.err.find("Could not write save " + rom + ".sav: cannot create a file beside it (Permission denied)"),
              std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(rom + ".sav"));
}

} // namespace
