// The engine's only door to the operating system.
//
// Everything the engine needs from the platform goes through this header: files with the
// Windows open and share modes, byte-range locks, error codes, the temporary directory,
// free space, the tick count, the user's locale and the ANSI/OEM code pages. The layers
// above speak in Windows error codes (2 = file not found, 32 = sharing violation,
// 33 = lock violation, ...) so that their messages stay those of the engine on every
// platform. There are two implementations: posix_*.cpp emulates the Windows semantics
// (share modes, locks that belong to the open file, error codes) on POSIX, win32_*.cpp
// uses the Windows services themselves; the build picks one. Where the two still differ
// in what a caller sees, the comment of the call says so.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zedra::platform {

// ---------------------------------------------------------------------------------------
// Error codes

// Windows error codes the engine uses.
inline constexpr uint32_t kErrFileNotFound = 2;
inline constexpr uint32_t kErrPathNotFound = 3;
inline constexpr uint32_t kErrTooManyOpenFiles = 4;
inline constexpr uint32_t kErrAccessDenied = 5;
inline constexpr uint32_t kErrInvalidHandle = 6;
inline constexpr uint32_t kErrNotEnoughMemory = 8;
inline constexpr uint32_t kErrWriteProtect = 19;
inline constexpr uint32_t kErrSharingViolation = 32;
inline constexpr uint32_t kErrLockViolation = 33;
inline constexpr uint32_t kErrInvalidParameter = 87;
inline constexpr uint32_t kErrDiskFull = 112;
inline constexpr uint32_t kErrHandleEof = 38;
inline constexpr uint32_t kErrFileExists = 80;
inline constexpr uint32_t kErrNotLocked = 158;
inline constexpr uint32_t kErrFilenameTooLong = 206;
inline constexpr uint32_t kErrFileTooLarge = 223;  // EFBIG: beyond the process's file size limit

#ifndef _WIN32
// errno turned into the Windows error code the engine reports.
uint32_t ErrnoToWinError(int err);
#endif

// The error code of the last failed call of this layer on this thread (0 after success of
// calls that document clearing it).
uint32_t LastError();

// ---------------------------------------------------------------------------------------
// Files

// Open modes as the Windows runtime knows them: the low 3 bits are the access
// (0 read, 1 write, 2 read and write), bits 4-6 the sharing (0x00 compatibility and 0x10
// exclusive deny everyone, 0x20 deny write, 0x30 deny read, 0x40 deny none).
inline constexpr uint32_t kModeReadWrite = 2;           // compatibility sharing
inline constexpr uint32_t kModeReadExclusive = 16;      // 0x10
inline constexpr uint32_t kModeReadWriteExclusive = 18; // 0x12
inline constexpr uint32_t kModeReadShared = 64;         // 0x40
inline constexpr uint32_t kModeReadWriteShared = 66;    // 0x42

#ifdef _WIN32
using FileHandle = std::intptr_t;  // the HANDLE's value; INVALID_HANDLE_VALUE is -1
#else
using FileHandle = int;
#endif
inline constexpr FileHandle kInvalidFile = -1;

// Opens an existing file. On Windows the sharing bits become CreateFile's share mode
// (compatibility and exclusive share nothing, deny write shares reading, deny read shares
// writing, deny none shares both); every open also lets other programs rename or delete
// the file, as POSIX always does, so that a rewrite can replace a table another program
// still has open. On POSIX sharing is emulated with flock() on the open file: deny-none
// takes a shared lock, every other sharing mode an exclusive one, both without waiting.
// On both, a conflict with another opener fails with 32, and two deny-none opens share.
// Only regular files open: a directory, FIFO, pipe, socket or device fails with 5 at once
// (the open never waits for a FIFO's other end). Returns kInvalidFile and sets *error.
FileHandle OpenFile(const std::string& path, uint32_t mode, uint32_t* error);

// Creates (or truncates) a file and opens it with the given mode's sharing.
FileHandle CreateFile(const std::string& path, uint32_t mode, uint32_t* error);

// Closes a handle; returns 0 or the error code.
uint32_t CloseFile(FileHandle fd);

// Reads up to buffer.size() bytes at offset; *done receives the count (short at end of
// file). Returns 0 or the error code.
uint32_t ReadAt(FileHandle fd, uint64_t offset, std::span<uint8_t> buffer, size_t* done);

// Writes the bytes at offset; *done receives the count. Returns 0 or the error code.
uint32_t WriteAt(FileHandle fd, uint64_t offset, std::span<const uint8_t> bytes, size_t* done);

// Size of the open file in bytes, or 0 with *error set.
uint64_t FileSize(FileHandle fd, uint32_t* error);

// Cuts or extends the file to size bytes.
uint32_t TruncateFile(FileHandle fd, uint64_t size);

// Writes the file's buffers through to the disk (FlushFileBuffers).
uint32_t FlushFile(FileHandle fd);

// Last-write time of the open file as seconds since 1970 (UTC), or 0 with *error set.
int64_t FileModTime(FileHandle fd, uint32_t* error);

// Byte-range locks owned by the open file (LockFile / UnlockFile); 64-bit offsets.
// A range held by another opener fails at once with 33. A file open for reading only
// takes a shared lock: it excludes the locks of writers, while readers may share it.
// On Windows the locks are those of the system: a locked range refuses other openers'
// reads and writes (33), a range is locked only once even by its owner, and unlocking
// must name a range exactly as it was locked (anything else fails with 158). On POSIX the
// owner may lock a range again and unlocking a range not held succeeds.
uint32_t LockRegion(FileHandle fd, uint64_t offset, uint64_t length);
uint32_t UnlockRegion(FileHandle fd, uint64_t offset, uint64_t length);

// ---------------------------------------------------------------------------------------
// Fault injection
//
// Tests make every change to a file fail, stop short or end the process at an exact
// point: each call that changes a file asks the hook first, when one is set. The hook
// answers 0 to let the call go on, or a Windows error code to make it fail without doing
// anything. For a write it may also lower *size: only that many bytes are written and the
// call then fails as a full disk does. A test that kills its process inside the hook
// stops a write half-way at the step it counts.

enum class FileChange { Write, Truncate, Flush, Create, Rename, Remove };
using FaultHook = std::function<uint32_t(FileChange change, size_t* size)>;
// Installs the hook (an empty function removes it).
void SetFaultHook(FaultHook hook);

// Tests read the bytes of files the engine holds open, to see them as they stand on disk.
// Windows refuses a second opener whatever the first one's sharing denies it, so with
// this on, every file opened from then on lets others read it (whether they may write
// stays as the open mode says). POSIX sharing never keeps a reader out: there it changes
// nothing.
void LetOthersReadOpenFiles(bool on);

// A write beyond the process's file size limit (RLIMIT_FSIZE) ends the process with
// SIGXFSZ by default. A program calls this once to have such writes fail with
// kErrFileTooLarge instead, so that the engine can report them and undo what it began.
// Windows has no such limit: nothing to do there.
void FailWritesBeyondSizeLimit();

// While one lives, the system's critical-error dialogs (a drive without a medium, a
// network share gone) stay away and the call fails with its error code instead
// (SetErrorMode); the previous mode comes back at its end. Nothing to do on POSIX.
class QuietCriticalErrors {
 public:
  QuietCriticalErrors();
  ~QuietCriticalErrors();
  QuietCriticalErrors(const QuietCriticalErrors&) = delete;
  QuietCriticalErrors& operator=(const QuietCriticalErrors&) = delete;

 private:
  [[maybe_unused]] uint32_t previous_ = 0;  // the error mode before, on Windows
};

// ---------------------------------------------------------------------------------------
// Names and directories

// The separator this layer writes between the parts of a path, and the characters that
// separate parts when reading one: on Windows both the backslash and "/".
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
#endif
constexpr bool IsPathSeparator(char c) { return kPathSeparators.find(c) != std::string_view::npos; }

bool FileExists(const std::string& path);
// True when path names a regular file (not a directory, FIFO, socket or device).
bool IsRegularFile(const std::string& path);
uint32_t RemoveFile(const std::string& path);
// Renames, replacing an existing target in one atomic step. A target that another
// program holds open is replaced too: its holders keep the old file. Where Windows cannot
// rename by handle over an open file (before Windows 10, Wine), the old file is moved
// aside to a ZED*.TMP name of its directory first and deleted after: for that moment the
// name is free.
uint32_t RenameFile(const std::string& from, const std::string& to);
std::string CurrentDirectory();
// The absolute form of a path (relative paths resolved against the current directory);
// "." and ".." components are folded.
std::string AbsolutePath(const std::string& path);

// Files from Windows arrive with any case. Returns the path as written when it exists,
// otherwise the one entry of its directory whose name matches the last component
// case-insensitively, otherwise the path as written. Windows names are case-insensitive
// already: there the path comes back as written.
std::string ResolveCase(const std::string& path);

struct DirEntry {
  std::string name;
  uint64_t size = 0;
  int64_t mtime = 0;
  bool is_directory = false;
};
// The entries of a directory whose names match the wildcard ("*" and "?", matched
// case-insensitively as on Windows). Returns 0, or 2/3/5 ... on failure.
uint32_t ListDirectory(const std::string& directory, const std::string& pattern,
                       std::vector<DirEntry>* entries);
bool WildcardMatch(const std::string& pattern, const std::string& name);

// The temporary directory, ending in a separator: GetTempPathA on Windows, $TMPDIR or
// /tmp on POSIX.
std::string TempDirectory();
// Creates a new empty file in directory and returns its full name, or empty with *error
// set. On Windows GetTempFileNameA chooses the name: the prefix's first three characters,
// one to four upper-case hex digits and ".TMP". On POSIX it is the whole prefix, one to
// four upper-case hex digits and ".tmp", created with O_CREAT|O_EXCL.
std::string CreateUniqueFile(const std::string& directory, const std::string& prefix,
                             uint32_t* error);

// The root directory of a drive by its number (1 = A:, 2 = B:, 3 = C: ...), such as "C:\\";
// empty for a number that names no drive letter, and always on POSIX, which has none.
std::string DriveRoot(int drive);

// Bytes available to the caller on the volume holding path (GetDiskFreeSpaceExA;
// statvfs f_bavail * f_frsize on POSIX).
std::optional<uint64_t> FreeBytes(const std::string& path);

// ---------------------------------------------------------------------------------------
// Time

// Milliseconds since an unspecified start (GetTickCount; CLOCK_MONOTONIC on POSIX), as
// unsigned 32-bit.
uint32_t TickCount();

struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
CivilTime LocalNow();
// Seconds since 1970 (UTC) turned into local civil time.
CivilTime LocalTimeOf(int64_t seconds);

// Sleeps for the given milliseconds.
void SleepMs(uint32_t ms);

// ---------------------------------------------------------------------------------------
// Locale

struct LocaleInfo {
  uint16_t language_id = 0x0409;       // GetUserDefaultLangID
  std::string short_date_format = "M/d/yyyy";  // Windows pattern
  char date_separator = '/';
  char decimal_point = '.';
  char thousands_separator = ',';
};

// The user's locale, unless a test has put its own in place: on Windows
// GetUserDefaultLangID and that language's short-date format and separators
// (GetLocaleInfoA); on POSIX LC_ALL, LC_TIME and LANG (language) and
// nl_langinfo/localeconv (formats).
LocaleInfo CurrentLocale();
// Tests play any locale with this; std::nullopt returns to the real one.
void SetLocaleOverride(std::optional<LocaleInfo> locale);

// The language identifier of a locale name such as "de_DE.UTF-8" (en_US 0x0409,
// other en 0x0809, de 0x0407, fr 0x040C, fr_CA 0x0C0C, es 0x0C0A, it 0x0410, ru 0x0419,
// anything else 0x0409).
uint16_t LanguageIdFromLocaleName(const std::string& name);
// A strftime date format ("%d.%m.%Y") as the Windows pattern ("dd.MM.yyyy").
std::string WindowsDatePattern(const std::string& strftime_format);

// ---------------------------------------------------------------------------------------
// Code pages: the engine's own ANSI is Windows-1252 and its OEM code page 850; a table
// may bring its own pair (FindOemAnsiPair).

uint8_t AnsiToOem(uint8_t c);
uint8_t OemToAnsi(uint8_t c);
uint8_t AnsiUpper(uint8_t c);
uint8_t AnsiLower(uint8_t c);

// A single-byte code page as the system's converter (iconv) defines it, with the
// upper- and lower-case mapping of its letters (Unicode's simple case mapping, limited to
// the letters the code page holds; any other byte maps to itself).
inline constexpr char32_t kNoCharacter = 0xFFFD;
struct CodePage {
  uint16_t number = 0;
  std::array<char32_t, 256> unicode{};  // kNoCharacter for a byte the code page leaves out,
                                        // except 0x80-0x9F, which then stand for themselves
  std::array<bool, 256> defined{};
  std::array<uint8_t, 256> upper{};
  std::array<uint8_t, 256> lower{};
};

// The code page with this number (437, 850, 1251 ...), built once on first use; null
// when the system has no single-byte converter for it.
const CodePage* FindCodePage(uint16_t number);
// Windows-1252: never null (without a system converter it is approximated by Latin-1).
const CodePage& Windows1252();

// A DOS (OEM) code page and the Windows (ANSI) code page of the same script: characters
// present in both map to each other, the bytes left over on each side are paired in
// ascending order, so that both directions are permutations and no byte is lost.
struct OemAnsiPair {
  const CodePage* oem = nullptr;
  const CodePage* ansi = nullptr;
  std::array<uint8_t, 256> to_ansi{};
  std::array<uint8_t, 256> to_oem{};
};

// The Windows code page of a DOS code page's script (437, 850, 860, 861, 863, 865: 1252;
// 852: 1250; 866: 1251; 857: 1254; 737: 1253), or 0 for any other number.
uint16_t WindowsCodePageOf(uint16_t dos_code_page);
// The pair of a DOS code page, built once; code page 850 gives the engine's own pair
// (AnsiToOem, OemToAnsi). Null when either side is not available.
const OemAnsiPair* FindOemAnsiPair(uint16_t dos_code_page);
// The pair built from the two code pages' characters as described above (exposed so
// that the engine's own 850 pair can be checked against it).
OemAnsiPair BuildOemAnsiPair(const CodePage& oem, const CodePage& ansi);

// Bytes of a code page as UTF-8.
std::string CodePageToUtf8(const CodePage& page, std::string_view bytes);
// UTF-8 into a code page. False when the text is not UTF-8 or holds a character the code
// page lacks: *missing then holds that character (or the broken bytes) as given.
bool Utf8ToCodePage(const CodePage& page, std::string_view text, std::string* bytes,
                    std::string* missing);

// Bytes of a code page turned into UTF-8, for showing engine texts on a terminal.
std::string Cp1252ToUtf8(std::string_view bytes);
std::string Cp850ToUtf8(std::string_view bytes);
std::string Cp866ToUtf8(std::string_view bytes);
// UTF-8 into Windows-1252; characters without a place become '?'.
std::string Utf8ToCp1252(std::string_view text);

// ---------------------------------------------------------------------------------------
// Terminal

// Whether standard error is a terminal (progress displays are drawn only there).
bool StandardErrorIsTerminal();

// A command-line tool speaks UTF-8 on every system. Its arguments after the program name,
// as UTF-8: on Windows taken from the wide command line (argv holds them in the ANSI code
// page there), on POSIX argv as it is.
std::vector<std::string> ToolArguments(int argc, char** argv);
// Makes the standard streams carry the tool's bytes unchanged: on Windows binary mode (no
// CR added before LF) and a console that shows UTF-8. Nothing to do on POSIX.
void PrepareStandardStreams();

}  // namespace zedra::platform
