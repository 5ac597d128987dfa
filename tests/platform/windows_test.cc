// The Windows face of the platform layer, run under Wine. Suites whose
// name holds "CodePage932" run in a process on a code page 932 system;
// the others on a code page 1252 system.
#include <windows.h>

#include <gtest/gtest.h>
#include <io.h>

#include <string>

#include "handoff/launch.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "output/run_files.h"
#include "support/test_util.h"
#include "text/sjis.h"

namespace quarnel {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

TEST(WindowsPlatform, FilesFoldersAndMoves) {
  TempDir dir;
  std::string folder = platform::make_unique_directory(dir.file("job-"));
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(platform::is_directory(folder));
  EXPECT_NE(platform::make_unique_directory(dir.file("job-")), folder);

  std::string a = folder + "\\a.txt";
  std::string b = dir.file("b.txt");
  write_file(a, "new\r\n");
  write_file(b, "old contents\r\n");
  EXPECT_EQ(platform::file_size(a), 5);
  EXPECT_EQ(platform::file_size(dir.file("none")), -1);
  // The move replaces the target in one step.
  ASSERT_EQ(platform::move_file(a, b), 0);
  EXPECT_FALSE(platform::exists(a));
  EXPECT_EQ(read_file(b), "new\r\n");
  EXPECT_EQ(platform::move_file(a, b), -1);
  EXPECT_EQ(read_file(b), "new\r\n");

  // Opened without truncation, a file keeps what it holds.
  int fd = platform::open_write(b, false, false);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::write_fd(fd, "N", 1), 1);
  EXPECT_EQ(platform::close_fd(fd), 0);
  EXPECT_EQ(read_file(b), "New\r\n");
  EXPECT_LT(platform::open_write(dir.file("none"), false, false), 0);

  // A read-only file is made writable; the folder goes with its files,
  // read-only ones included.
  const std::string ro = folder + "\\ro.txt";
  write_file(ro, "x");
  SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(platform::make_writable(ro), 0);
  EXPECT_EQ(GetFileAttributesA(ro.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(platform::make_writable(dir.file("none")), -1);
  SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY);
  write_file(folder + "\\c.txt", "c");
  EXPECT_EQ(platform::remove_folder(folder), 0);
  EXPECT_FALSE(platform::exists(folder));

  std::string unique;
  fd = platform::create_unique_file(dir.file("t-"), &unique);
  ASSERT_GE(fd, 0);
  platform::close_fd(fd);
  EXPECT_TRUE(platform::exists(unique));
  EXPECT_EQ(platform::delete_file(unique), 0);
  EXPECT_EQ(platform::delete_file(unique), -1);
}

TEST(WindowsPlatform, SystemFacts) {
  std::string self = platform::executable_path();
  EXPECT_GE(self.size(), 4u);
  EXPECT_EQ(self.substr(self.size() - 4), ".exe");
  EXPECT_EQ(self.find('/'), std::string::npos);
  EXPECT_GT(platform::available_memory(), 0);
  EXPECT_TRUE(platform::can_allocate(100 << 20));
  EXPECT_FALSE(platform::can_allocate(int64_t{1} << 50));
  platform::LocalTime t = platform::local_time();
  EXPECT_GE(t.year, 2024);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  std::vector<std::string> cmd = platform::interpreter_command();
  ASSERT_EQ(cmd.size(), 2u);
  EXPECT_NE(cmd[0].find("\\SYSTEM32\\CMD.EXE"), std::string::npos);
  EXPECT_EQ(cmd[1], "/C");
  EXPECT_TRUE(platform::is_executable_file(self));
  EXPECT_FALSE(platform::is_executable_file(cmd[0] + ".missing"));
}

TEST(WindowsPlatform, ChildExitCodesAndFolder) {
  TempDir dir;
  std::vector<std::string> cmd = platform::interpreter_command();
  ASSERT_FALSE(cmd.empty());
  std::vector<std::string> argv = cmd;
  argv.push_back("exit 3");
  EXPECT_EQ(platform::run_process(argv), 3);
  argv.back() = "exit -1";
  EXPECT_EQ(platform::run_process(argv), -1);
  EXPECT_EQ(platform::run_process({dir.file("missing.exe")}), -1);
  // The folder is the child's; this process keeps its own.
  std::string before = platform::current_directory();
  argv.back() = "cd > where.txt";
  EXPECT_EQ(platform::run_process(argv, dir.path()), 0);
  EXPECT_EQ(platform::current_directory(), before);
  std::string where = read_file(dir.file("where.txt"));
  EXPECT_EQ(where.substr(0, dir.path().size()), dir.path());
}

// A command that is no .exe goes through CMD.EXE /C, from its own folder,
// with its arguments whole; its exit code comes back.
TEST(WindowsPlatform, BatchFileRunsThroughTheInterpreterInItsFolder) {
  TempDir dir;
  ASSERT_EQ(platform::make_directory(dir.file("my jobs")), 0);
  const std::string script = dir.file("my jobs\\run.bat");
  write_file(script, "@echo [%~1]> record.txt\r\n@echo [%~2]>> record.txt\r\n"
                     "@cd >> record.txt\r\n@exit /b 7\r\n");
  std::string before = platform::current_directory();
  EXPECT_EQ(launch_command(("\"" + script + "\" \"an arg\" b").c_str()), 7);
  EXPECT_EQ(platform::current_directory(), before);
  std::vector<std::string> got =
      testing::split_lines(read_file(dir.file("my jobs\\record.txt")), "\r\n");
  ASSERT_EQ(got.size(), 3u) << read_file(dir.file("my jobs\\record.txt"));
  EXPECT_EQ(got[0], "[an arg]");
  EXPECT_EQ(got[1], "[b]");
  EXPECT_EQ(got[2], dir.file("my jobs"));
}

// A file of 5 GB holds sizes and offsets beyond 32 bits. It is sparse, so
// it costs next to no disk; a file system that refuses it skips the test.
TEST(WindowsPlatform, FileBeyondFourGigabytes) {
  TempDir dir;
  const std::string path = dir.file("big.bin");
  const int64_t size = int64_t{5} << 30;
  const int64_t mark_at = (int64_t{4} << 30) + 4096 + 7;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD ignored = 0;
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  LARGE_INTEGER at;
  at.QuadPart = mark_at;
  DWORD written = 0;
  bool made = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
              WriteFile(h, "MARK", 4, &written, nullptr) && written == 4;
  at.QuadPart = size;
  made = made && SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  if (!made) GTEST_SKIP() << "the file system refuses a sparse 5 GB file";

  EXPECT_EQ(platform::file_size(path), size);
  int fd = platform::open_read(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(_lseeki64(fd, mark_at - 2, SEEK_SET), mark_at - 2);
  char got[8] = {};
  EXPECT_EQ(platform::read_fd(fd, got, 8), 8);
  EXPECT_EQ(std::string(got, 8), std::string("\0\0MARK\0\0", 8));
  ASSERT_EQ(_lseeki64(fd, size - 3, SEEK_SET), size - 3);
  EXPECT_EQ(platform::read_fd(fd, got, 8), 3);
  platform::close_fd(fd);
}

// A view of the whole file with zeros behind it, or none where its last
// page leaves fewer than 8; a mapped file cannot be shortened.
TEST(WindowsPlatform, MappedFileCannotShrinkUnderTheView) {
  TempDir dir;
  for (int64_t size : {int64_t{4000}, int64_t{4090}, int64_t{8192}}) {
    const std::string path = dir.file("mapped" + std::to_string(size) + ".txt");
    write_file(path, std::string(static_cast<size_t>(size), 'q'));
    int fd = platform::open_read(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::map_for_reading(fd, size + 1, "m"), nullptr);
    const char* p = platform::map_for_reading(fd, size, "m");
    if (size != 4000) {
      EXPECT_EQ(p, nullptr) << size;
    } else {
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(std::string(p, 4000), std::string(4000, 'q'));
      for (int i = 0; i < 8; ++i) EXPECT_EQ(p[4000 + i], 0);
      HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      LARGE_INTEGER at;
      at.QuadPart = 10;
      EXPECT_FALSE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h));
      CloseHandle(h);
      EXPECT_EQ(p[3999], 'q');
      platform::unmap_for_reading(p, size);
    }
    platform::close_fd(fd);
  }
}

// Identity by volume and file index: another spelling of a file is the
// same file, a copy is not; NUL is a device, which is never replaced.
TEST(WindowsPlatform, IdentityWriteAccessAndDevices) {
  TempDir dir;
  const std::string a = dir.file("a.txt");
  write_file(a, "x\r\n");
  write_file(dir.file("b.txt"), "x\r\n");
  const platform::FileIdentity id = platform::identify_file(a);
  EXPECT_EQ(id.kind, platform::FileKind::kRegular);
  EXPECT_TRUE(platform::same_file(id, platform::identify_file(dir.path() + "\\.\\A.TXT")));
  EXPECT_FALSE(platform::same_file(id, platform::identify_file(dir.file("b.txt"))));
  EXPECT_EQ(platform::identify_file(dir.file("none")).kind, platform::FileKind::kMissing);
  EXPECT_EQ(platform::identify_file(dir.path()).kind, platform::FileKind::kDirectory);
  const platform::FileIdentity nul = platform::identify_file("NUL");
  EXPECT_EQ(nul.kind, platform::FileKind::kOther);
  EXPECT_FALSE(platform::same_file(nul, id));
  EXPECT_TRUE(platform::may_write("NUL"));
  EXPECT_EQ(platform::move_file(a, "NUL"), -1);
  EXPECT_TRUE(platform::exists(a));

  EXPECT_TRUE(platform::may_write(a));
  ASSERT_TRUE(SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(platform::may_write(a));
  EXPECT_FALSE(platform::may_write(dir.file("none")));
  SetFileAttributesA(a.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A held lock keeps its folder; a lock nobody holds (its job was killed)
// lets the folder go; a folder without a lock file is no job's and stays.
TEST(WindowsPlatform, LockedFoldersAndAbandonedOnes) {
  TempDir dir;
  const std::string prefix = dir.file("job-");
  const std::string held = platform::make_locked_folder(prefix);
  ASSERT_FALSE(held.empty());
  write_file(held + "\\run.000", "x\r\n");
  EXPECT_EQ(platform::make_locked_folder(prefix).empty(), false);
  const std::string third = platform::make_locked_folder(prefix);
  EXPECT_TRUE(third.empty()) << "only two locked folders at a time";

  const std::string dead = dir.file("job-dead");
  ASSERT_EQ(platform::make_directory(dead), 0);
  write_file(dead + "\\.lock", "");
  write_file(dead + "\\run.001", "x\r\n");
  const std::string unlocked = dir.file("job-nolock");
  ASSERT_EQ(platform::make_directory(unlocked), 0);
  write_file(dir.file("job-file"), "x");

  platform::remove_abandoned_folders(dir.path(), "job-");
  EXPECT_TRUE(platform::exists(held + "\\run.000"));
  EXPECT_FALSE(platform::exists(dead));
  EXPECT_TRUE(platform::is_directory(unlocked));
  EXPECT_TRUE(platform::exists(dir.file("job-file")));

  EXPECT_EQ(platform::remove_locked_folder(held), 0);
  EXPECT_FALSE(platform::exists(held));
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((prefix + "*").c_str(), &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::string second;
  do {
    const std::string name = dir.file(entry.cFileName);
    if (name != unlocked && name != dir.file("job-file")) second = name;
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(platform::remove_locked_folder(second), 0);
  EXPECT_FALSE(platform::exists(second));
  // Both slots are free again.
  const std::string again = platform::make_locked_folder(prefix);
  EXPECT_FALSE(again.empty());
  EXPECT_EQ(platform::remove_locked_folder(again), 0);
  RemoveDirectoryA(unlocked.c_str());
}

// The child of StopRemovesTheArmedFolder: arms the folder it is given,
// says so, and writes to standard output until it is stopped. Run by itself
// it has nothing to do.
TEST(WindowsStop, ChildArmsItsFolderAndWrites) {
  const char* folder = getenv("QUARNEL_ARMED_FOLDER");
  if (folder == nullptr) GTEST_SKIP() << "only as the child of the stop test";
  const std::string made = platform::make_locked_folder(folder);
  ASSERT_FALSE(made.empty());
  write_file(made + "\\run.000", "x\r\n");
  platform::write_fd(1, "ready\n", 6);
  for (int i = 0; i < 3000; ++i) {
    if (platform::write_fd(1, ".", 1) != 1) break;
    Sleep(10);
  }
  ADD_FAILURE() << "neither a console event nor a broken pipe ended the process";
}

// Ctrl-Break ends an armed process and removes its folder. Where there is
// no console to send it through (Wine without one), the reader of its
// standard output goes away instead, which takes the same way out.
TEST(WindowsStop, StopRemovesTheArmedFolder) {
  TempDir dir;
  const std::string folder = dir.file("job-");
  if (GetConsoleWindow() == nullptr) AllocConsole();

  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE out_read, out_write;
  ASSERT_TRUE(CreatePipe(&out_read, &out_write, &inherit, 0));
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetEnvironmentVariableA("QUARNEL_ARMED_FOLDER", folder.c_str());
  std::string line = "\"" + platform::executable_path() +
                     "\" --gtest_filter=WindowsStop.ChildArmsItsFolderAndWrites";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child;
  BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE,
                                CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                                &startup, &child);
  SetEnvironmentVariableA("QUARNEL_ARMED_FOLDER", nullptr);
  CloseHandle(out_write);
  ASSERT_TRUE(started);
  std::string said;
  char buffer[512];
  DWORD got = 0;
  while (said.find("ready") == std::string::npos &&
         ReadFile(out_read, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    said.append(buffer, got);
  }
  EXPECT_NE(said.find("ready"), std::string::npos) << said;
  // The child's folder is there and its lock is held: no cleaner takes it.
  platform::remove_abandoned_folders(dir.path(), "job-");
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &entry);
  EXPECT_NE(find, INVALID_HANDLE_VALUE);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.dwProcessId)) {
    printf("no console for Ctrl-Break (error %lu): the pipe's reader goes\n",
           static_cast<unsigned long>(GetLastError()));
  }
  CloseHandle(out_read);
  DWORD waited = WaitForSingleObject(child.hProcess, 20000);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 1);
  CloseHandle(child.hProcess);
  CloseHandle(child.hThread);
  EXPECT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(code, 0xC000013Au);
  find = FindFirstFileA((folder + "*").c_str(), &entry);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE) << entry.cFileName;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

class WindowsNames : public ::testing::Test {
 protected:
  void TearDown() override { platform::init_locale(); }
};

TEST_F(WindowsNames, RunAndDirectoryNamesUseTheBackslash) {
  SortJob job;
  job.work_dir = "C:\\TEMP\\";
  job.input_path = "D:\\data\\sales.txt";
  OutputFile file;
  // MD5 of the eight bytes C:\TEMP\.
  EXPECT_EQ(run_file_name(RunTarget{job, "", &file, false}, 0),
            "C:\\TEMP\\16C02E8EEF353C9Csales.txt.000");
  EXPECT_EQ(work_dir_digest(job.work_dir), "16C02E8EEF353C9C34D48EDCB08ABE52");
  EXPECT_STREQ(directory_of("C:\\data\\in.txt"), "C:\\data\\");
  EXPECT_STREQ(directory_of("in.txt"), ".\\");
  EXPECT_STREQ(directory_of(""), ".\\");
  EXPECT_STREQ(directory_of("C:/data/in.txt"), ".\\");
  TempDir dir;
  EXPECT_EQ(std::string(directory_of(dir.path().c_str())), dir.path());
  EXPECT_EQ(with_trailing_separator(""), "\\");
}

// On a code page 1252 system no byte hides the separator after it: é is
// E9, a Shift_JIS lead byte.
TEST_F(WindowsNames, CodePage1252KeepsTheSeparatorAfterAnAccent) {
  ASSERT_EQ(GetACP(), 1252u);
  platform::init_locale();
  EXPECT_EQ(platform::system_encoding(), platform::SystemEncoding::kOther);
  EXPECT_FALSE(IsDBCSLeadByte(0xE9));
  EXPECT_STREQ(directory_of("C:\\Caf\xE9\\in.txt"), "C:\\Caf\xE9\\");
  EXPECT_STREQ(directory_of("C:\\\x95\\in.txt"), "C:\\\x95\\");
}

class WindowsNamesCodePage932 : public WindowsNames {};

// On a code page 932 system 表 (95 5C) is one character: its second byte
// is no separator.
TEST_F(WindowsNamesCodePage932, ShiftJisFolderNameIsOneFolder) {
  ASSERT_EQ(GetACP(), 932u);
  platform::init_locale();
  EXPECT_EQ(platform::system_encoding(), platform::SystemEncoding::kShiftJis);
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
  EXPECT_STREQ(directory_of("\x95\x5C\\in.txt"), "\x95\x5C\\");
  EXPECT_STREQ(directory_of("C:\\\x95\x5C"), "C:\\");
  TempDir dir;
  std::string folder = dir.file("\x95\x5C");
  ASSERT_EQ(platform::make_directory(folder), 0);
  EXPECT_TRUE(platform::is_directory(folder));
  write_file(folder + "\\in.txt", "x\r\n");
  EXPECT_EQ(platform::file_size(folder + "\\in.txt"), 3);
  EXPECT_EQ(std::string(directory_of((folder + "\\in.txt").c_str())), folder + "\\");
  EXPECT_EQ(std::string(directory_of(folder.c_str())), folder);
}

}  // namespace
}  // namespace quarnel
