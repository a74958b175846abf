// The ZIP archive appended to the stub's own executable file.
//
// The archive is found from the end of the file by its end-of-central-directory record; every
// offset in it counts from the first byte of the whole file. Only single-disk archives without
// ZIP64 records are read, and every local header must repeat its central record exactly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace port {
class File;
class FileSystem;
class SystemFacts;
}  // namespace port

namespace vorqzip {

enum : int {
  ZIP_OK = 0,
  ZIP_ERR_GENERAL = -1,
  ZIP_ERR_END = -2,
  ZIP_ERR_SEEK = -3,
  ZIP_ERR_CREATE = -4,
  ZIP_ERR_MEMORY = -5,
  ZIP_ERR_CRC = -6,
  ZIP_ERR_FORMAT = -7,
  ZIP_ERR_PARAM = -8,
  ZIP_ERR_OPEN = -9,
};

// Files of this size or more are refused: all positioning in the format is 32-bit signed.
constexpr uint64_t kMaxArchiveFileSize = 0x80000000ull;
// The end record must begin within this many bytes of the end of the file.
constexpr uint32_t kEndRecordSearchWindow = 65535;

class ZIP_File;
class ZIP_FileEntry;

// Passed to the progress callback before each entry of ZIP_File::ExtractAll.
struct ExtractProgressInfo {
  uint64_t index = 0;  // counting from 1
  uint64_t total = 0;
  std::wstring path;  // the file about to be written, or the folder with its trailing separator
};
// Returns true to go on, false to stop the extraction.
using ExtractProgressFn = bool (*)(void* context, const ExtractProgressInfo* info);

// The state of one decompression pass over one entry.
struct ZIP_ReadStream {
  ZIP_ReadStream();
  ~ZIP_ReadStream();
  ZIP_ReadStream(const ZIP_ReadStream&) = delete;
  ZIP_ReadStream& operator=(const ZIP_ReadStream&) = delete;

  std::vector<uint8_t> inputBuffer;
  port::File* fileHandle = nullptr;
  struct Inflater;
  std::unique_ptr<Inflater> inflater;  // the zlib state of a deflate entry
  const uint8_t* nextIn = nullptr;
  uint32_t availableIn = 0;
  uint32_t crc = 0;
  uint32_t compressedLeft = 0;
  uint32_t uncompressedLeft = 0;
  uint32_t filePosition = 0;
};

// Windows limit of a path, terminator excluded.
constexpr size_t kMaxPathLength = 259;

// One member of the archive, owned by its ZIP_File.
class ZIP_FileEntry {
 public:
  virtual ~ZIP_FileEntry() = default;

  // A name ending in "/" is a folder; one ending in "\" is a folder only when both sizes are 0.
  bool IsDirectory() const;
  // False when the declared uncompressed size cannot come out of the stored data: more than
  // the stored bytes for a stored entry, more than deflate's densest ratio for a deflated one.
  bool SizeIsPlausible() const;

  // Extracts into a memory buffer of `length` bytes. Fails when the data cannot be read or
  // decompressed, when asked for the whole entry and fewer bytes came out, or on a CRC mismatch.
  int Extract(void* buffer, uint32_t length);
  // Extracts into a file: `path`, or the entry's own name when empty; creates the folder chain,
  // sets the entry's times and attributes.
  int ExtractToFile(const std::wstring& path, bool failIfExists);
  int OpenStream(ZIP_ReadStream* stream);
  int ReadStream(void* buffer, uint64_t length, ZIP_ReadStream* stream, uint32_t* produced);
  int CloseStream(ZIP_ReadStream* stream);
  int WriteToFile(port::File& file);

  uint32_t versionMadeBy = 0;
  uint32_t versionNeeded = 0;
  uint32_t flags = 0;
  uint32_t method = 0;
  uint32_t dosTime = 0;
  uint32_t dosDate = 0;
  uint32_t storedCrc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint32_t diskNumberStart = 0;
  uint32_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;
  std::string name;        // 8-bit name in the ANSI code page; never empty in an open archive
  std::string extraField;  // the local extra field up to its first zero byte
  port::File* archiveHandle = nullptr;  // the owning archive's file, not owned
  uint32_t dataOffset = 0;
  ZIP_File* owner = nullptr;
};

// Cursor of an entry enumeration (BeginEnum / NextEntry / EndEnum).
struct ZIP_EnumCursor {
  size_t next = 0;
  bool finished = false;
};

class ZIP_File {
 public:
  ZIP_File(port::FileSystem& files, port::SystemFacts& system);
  virtual ~ZIP_File();
  ZIP_File(const ZIP_File&) = delete;
  ZIP_File& operator=(const ZIP_File&) = delete;

  int Open(const std::wstring& path);
  void Close();
  bool IsOpen() const { return fileHandle_ != nullptr; }

  int GetEntryCount() const;
  ZIP_FileEntry* GetEntry(int index) const;
  // The first entry whose name equals `name` (converted with the thread's ANSI code page)
  // without regard to case; null when there is none.
  ZIP_FileEntry* FindEntry(const std::wstring& name) const;

  ZIP_EnumCursor* BeginEnum() const;
  ZIP_FileEntry* NextEntry(ZIP_EnumCursor* cursor) const;
  static void EndEnum(ZIP_EnumCursor* cursor);

  // Extracts every entry, in directory order, into `folder` (created with its chain), calling
  // `progress` before each entry. Stops at the first failure.
  int ExtractAll(const std::wstring& folder, ExtractProgressFn progress, void* context);

  uint32_t centralDirectoryOffset() const { return centralDirectoryOffset_; }
  port::FileSystem& files() const { return files_; }
  port::SystemFacts& system() const { return system_; }

 private:
  int ReadCentralDirectory(port::File& file);

  port::FileSystem& files_;
  port::SystemFacts& system_;
  std::vector<std::unique_ptr<ZIP_FileEntry>> entries_;
  std::unique_ptr<port::File> fileHandle_;
  uint32_t centralDirectoryOffset_ = 0;
};

// Finds the end-of-central-directory record: the position of the last occurrence of its
// signature within the search window, or 0 when there is none (a hit at position 0 counts as
// none). Sets *readFailed when the size cannot be read.
uint32_t FindEndOfCentralDirectory(port::File& file, bool* sizeUnreadable);

// Creates a folder chain on a drive path ("X:\..."); "\" and "/" separate levels.
bool CreateDirectoryPath(port::FileSystem& files, port::SystemFacts& system, const std::wstring& path);

// True when an entry name stays inside the folder it is extracted into: no ".." component, no
// drive letter or colon, no leading separator (which also covers UNC names).
bool IsSafeEntryName(const std::string& name);

// Converts an MS-DOS date and time to a FILETIME value in the same (local) time; false for
// values that name no real moment.
bool DosDateTimeToFileTime(uint32_t dosDate, uint32_t dosTime, uint64_t* fileTime);

// Case-insensitive comparison of 8-bit names (ASCII letters fold).
bool EqualsNoCaseAnsi(const std::string& a, const std::string& b);

}  // namespace vorqzip
