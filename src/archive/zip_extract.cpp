// Turning archive entries back into bytes: decompression streams, extraction into memory,
// into files with their folder chain, times and attributes, and of the whole archive.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/zip_file.h"
#include "platform/port.h"

namespace vorqzip {

namespace {

constexpr uint32_t kInputBlock = 16384;
constexpr uint32_t kChunk = 16384;
// Attribute bits that SetFileAttributes accepts.
constexpr uint32_t kSettableAttributes = 0x31A7;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Creates one folder; a folder (or file) of that name that exists already counts as done.
bool CreateOneFolder(port::FileSystem& files, port::SystemFacts& system, const std::wstring& folder) {
  if (files.CreateDirectory(folder)) return true;
  const uint32_t error = system.GetLastError();
  return error == port::kErrorAlreadyExists || error == port::kErrorFileExists;
}

}  // namespace

struct ZIP_ReadStream::Inflater {
  z_stream z{};
  bool active = false;
  ~Inflater() {
    if (active) inflateEnd(&z);
  }
};

ZIP_ReadStream::ZIP_ReadStream() = default;
ZIP_ReadStream::~ZIP_ReadStream() = default;

bool ZIP_FileEntry::SizeIsPlausible() const {
  if (method == 0) return uncompressedSize <= compressedSize;
  // Deflate emits at most 258 bytes per one-bit-ish code: about 1032 bytes per stored byte.
  return uncompressedSize <= uint64_t{compressedSize} * 1032 + 1024;
}

bool IsSafeEntryName(const std::string& name) {
  if (name.empty()) return false;
  if (name[0] == '\\' || name[0] == '/') return false;    // rooted, or a UNC name
  if (name.find(':') != std::string::npos) return false;  // drive letters and stream names
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    // The platform drops trailing dots and blanks of a component: "..", ". ." and ".. " all
    // climb to the parent folder.
    const bool onlyDotsAndBlanks = !part.empty() && part.find_first_not_of(". ") == std::string::npos;
    if (onlyDotsAndBlanks && std::count(part.begin(), part.end(), '.') >= 2) return false;
    start = end + 1;
  }
  return true;
}

bool DosDateTimeToFileTime(uint32_t dosDate, uint32_t dosTime, uint64_t* fileTime) {
  const int year = static_cast<int>((dosDate >> 9) & 0x7F) + 1980;
  const int month = static_cast<int>((dosDate >> 5) & 0x0F);
  const int day = static_cast<int>(dosDate & 0x1F);
  const int hour = static_cast<int>((dosTime >> 11) & 0x1F);
  const int minute = static_cast<int>((dosTime >> 5) & 0x3F);
  const int second = static_cast<int>(dosTime & 0x1F) * 2;
  static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  auto isLeap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  if (month < 1 || month > 12 || day < 1) return false;
  if (day > kDaysInMonth[month - 1] + (month == 2 && isLeap(year) ? 1 : 0)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  int64_t days = 0;  // from 1601-01-01
  for (int y = 1601; y < year; ++y) days += isLeap(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += kDaysInMonth[m - 1] + (m == 2 && isLeap(year) ? 1 : 0);
  days += day - 1;
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  *fileTime = static_cast<uint64_t>(seconds) * 10000000ull;
  return true;
}

bool CreateDirectoryPath(port::FileSystem& files, port::SystemFacts& system, const std::wstring& path) {
  const bool driveLetter = path.size() >= 3 &&
                           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                           path[1] == L':' && path[2] == L'\\';
  if (!driveLetter) return false;
  if (CreateOneFolder(files, system, path)) return true;
  // Create level by level from the first folder below the drive root.
  std::wstring work = path;
  if (!IsSeparator(work.back())) work += L'\\';
  for (size_t i = 3; i < work.size(); ++i) {
    if (!IsSeparator(work[i])) continue;
    if (!CreateOneFolder(files, system, work.substr(0, i))) return false;
    work[i] = L'\\';
  }
  return true;
}

int ZIP_FileEntry::OpenStream(ZIP_ReadStream* stream) {
  if (!stream) return ZIP_ERR_PARAM;
  stream->crc = 0;
  stream->compressedLeft = compressedSize;
  stream->uncompressedLeft = uncompressedSize;
  stream->fileHandle = archiveHandle;
  stream->filePosition = dataOffset;
  stream->nextIn = nullptr;
  stream->availableIn = 0;
  stream->inflater.reset();
  if (!archiveHandle || !archiveHandle->Seek(dataOffset)) return ZIP_ERR_SEEK;
  if (method != 0) {
    stream->inflater.reset(new (std::nothrow) ZIP_ReadStream::Inflater);
    if (!stream->inflater) return ZIP_ERR_MEMORY;
    if (inflateInit2(&stream->inflater->z, -MAX_WBITS) != Z_OK) {
      stream->inflater.reset();
      return ZIP_ERR_GENERAL;
    }
    stream->inflater->active = true;
  }
  try {
    stream->inputBuffer.assign(kInputBlock, 0);
  } catch (const std::bad_alloc&) {
    stream->inflater.reset();
    return ZIP_ERR_MEMORY;
  }
  return ZIP_OK;
}

int ZIP_FileEntry::ReadStream(void* buffer, uint64_t length, ZIP_ReadStream* stream, uint32_t* produced) {
  if (produced) *produced = 0;
  if ((method & ~8u) != 0) return ZIP_ERR_FORMAT;
  if (!stream || !buffer || length == 0) return ZIP_ERR_PARAM;
  if (method == 8 && !stream->inflater) return ZIP_ERR_PARAM;  // not opened

  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t space = static_cast<uint32_t>(std::min<uint64_t>(length, stream->uncompressedLeft));
  uint32_t total = 0;
  int status = ZIP_OK;
  while (space > 0) {
    if (stream->availableIn == 0 && stream->compressedLeft != 0) {
      const uint32_t take = std::min(stream->compressedLeft, kInputBlock);
      uint32_t got = 0;
      if (!stream->fileHandle->Seek(stream->filePosition) ||
          !stream->fileHandle->Read(stream->inputBuffer.data(), take, &got) || got != take) {
        status = ZIP_ERR_GENERAL;
        break;
      }
      stream->filePosition += take;
      stream->compressedLeft -= take;
      stream->nextIn = stream->inputBuffer.data();
      stream->availableIn = take;
    }
    if (method == 0) {
      if (stream->availableIn == 0) {
        // The stored data ended before the promised size: nothing more will come.
        status = ZIP_ERR_FORMAT;
        break;
      }
      const uint32_t copy = std::min(stream->availableIn, space);
      std::memcpy(out, stream->nextIn, copy);
      stream->crc = crc32(stream->crc, out, copy);
      stream->uncompressedLeft -= copy;
      stream->availableIn -= copy;
      stream->nextIn += copy;
      out += copy;
      space -= copy;
      total += copy;
      continue;
    }
    z_stream& z = stream->inflater->z;
    z.next_in = const_cast<Bytef*>(stream->nextIn);
    z.avail_in = stream->availableIn;
    z.next_out = out;
    z.avail_out = space;
    const int result = inflate(&z, Z_SYNC_FLUSH);
    const uint32_t made = space - z.avail_out;
    const uint32_t consumed = stream->availableIn - z.avail_in;
    stream->nextIn += consumed;
    stream->availableIn = z.avail_in;
    stream->crc = crc32(stream->crc, out, made);
    stream->uncompressedLeft -= made;
    out += made;
    space -= made;
    total += made;
    if (result == Z_STREAM_END) {
      if (produced) *produced = total;
      return total == 0 ? ZIP_ERR_END : ZIP_OK;
    }
    if (result != Z_OK) {
      // Corrupt data, or input exhausted before the stream's end: the entry cannot be completed.
      status = result == Z_BUF_ERROR ? ZIP_ERR_GENERAL : ZIP_ERR_FORMAT;
      break;
    }
    if (made == 0 && consumed == 0) {
      status = ZIP_ERR_GENERAL;  // no progress possible
      break;
    }
  }
  if (produced) *produced = total;
  return status;
}

int ZIP_FileEntry::CloseStream(ZIP_ReadStream* stream) {
  if (!stream) return ZIP_ERR_PARAM;
  stream->inputBuffer.clear();
  stream->inputBuffer.shrink_to_fit();
  stream->inflater.reset();
  if (stream->uncompressedLeft == 0 && stream->crc != storedCrc) return ZIP_ERR_CRC;
  return ZIP_OK;
}

int ZIP_FileEntry::Extract(void* buffer, uint32_t length) {
  ZIP_ReadStream stream;
  int status = OpenStream(&stream);
  if (status != ZIP_OK) return status;
  int readStatus = ZIP_OK;
  if (length > 0 && uncompressedSize > 0) readStatus = ReadStream(buffer, length, &stream, nullptr);
  const bool askedForAll = length >= uncompressedSize;
  const bool incomplete = askedForAll && stream.uncompressedLeft != 0;
  status = CloseStream(&stream);
  if (readStatus != ZIP_OK && readStatus != ZIP_ERR_END) return readStatus;
  if (incomplete) return ZIP_ERR_END;  // the data ended before the promised size
  return status;
}

int ZIP_FileEntry::WriteToFile(port::File& file) {
  ZIP_ReadStream stream;
  int status = OpenStream(&stream);
  if (status != ZIP_OK) return status;
  std::vector<uint8_t> chunk(kChunk);
  int readStatus = ZIP_OK;
  while (stream.uncompressedLeft > 0) {
    uint32_t produced = 0;
    readStatus = ReadStream(chunk.data(), chunk.size(), &stream, &produced);
    if (produced > 0) {
      uint32_t written = 0;
      if (!file.Write(chunk.data(), produced, &written) || written != produced) {
        readStatus = ZIP_ERR_CREATE;  // the disk refused the data: the file is not complete
        break;
      }
    }
    if (readStatus != ZIP_OK || produced == 0) break;
  }
  const bool incomplete = stream.uncompressedLeft != 0;
  status = CloseStream(&stream);
  if (readStatus != ZIP_OK) return readStatus;
  if (incomplete) return ZIP_ERR_END;  // the data ended before the promised size
  return status;
}

int ZIP_FileEntry::ExtractToFile(const std::wstring& givenPath, bool failIfExists) {
  if (!owner) return ZIP_ERR_PARAM;
  port::FileSystem& files = owner->files();
  port::SystemFacts& system = owner->system();
  if (IsDirectory()) {
    if (!givenPath.empty()) return ZIP_ERR_PARAM;
    if (!IsSafeEntryName(name)) return ZIP_ERR_FORMAT;
    const std::wstring folder = system.AnsiToWide(name, port::CodePage::kThreadAnsi);
    return CreateDirectoryPath(files, system, folder) ? ZIP_OK : ZIP_ERR_PARAM;
  }
  std::wstring path = givenPath;
  if (path.empty()) {
    if (!IsSafeEntryName(name)) return ZIP_ERR_FORMAT;
    path = system.AnsiToWide(name, port::CodePage::kThreadAnsi);
  }
  if (path.size() > kMaxPathLength) return ZIP_ERR_CREATE;

  const size_t lastSeparator = path.find_last_of(L"\\/");
  if (lastSeparator != std::wstring::npos) {
    // Folder chain of the file; a failure shows when the file cannot be created.
    CreateDirectoryPath(files, system, path.substr(0, lastSeparator + 1));
  }
  std::unique_ptr<port::File> file = files.CreateForWrite(
      path, failIfExists ? port::CreateMode::kCreateNew : port::CreateMode::kCreateAlways, port::ShareMode::kExclusive);
  if (!file) return ZIP_ERR_CREATE;
  const int status = WriteToFile(*file);

  // The entry's MS-DOS time is local time; files keep their times in UTC. The last-access
  // time (0) is left as the system set it.
  uint64_t local = 0, utc = 0;
  if (DosDateTimeToFileTime(dosDate, dosTime, &local) && system.LocalFileTimeToUtc(local, &utc)) {
    port::FileTimes times;
    times.creation = utc;
    times.lastWrite = utc;
    file->SetTimes(times);
  }
  file.reset();
  // Archives made on other systems keep their own permission bits above the MS-DOS ones;
  // when the whole value is refused, apply the bits the platform knows.
  if (!files.SetAttributes(path, externalAttributes)) {
    files.SetAttributes(path, externalAttributes & kSettableAttributes);
  }
  return status;
}

int ZIP_File::ExtractAll(const std::wstring& folder, ExtractProgressFn progress, void* context) {
  if (!folder.empty() && !CreateDirectoryPath(files_, system_, folder)) return ZIP_ERR_GENERAL;
  const uint64_t total = entries_.size();
  uint64_t index = 0;
  for (const auto& entry : entries_) {
    ++index;
    // Nothing may be written outside the target folder.
    if (!IsSafeEntryName(entry->name)) return ZIP_ERR_FORMAT;
    const std::wstring name = system_.AnsiToWide(entry->name, port::CodePage::kSystemAnsi);
    const std::wstring path = folder.empty() ? name : folder + L"\\" + name;
    if (progress) {
      ExtractProgressInfo info;
      info.index = index;
      info.total = total;
      info.path = path;
      if (!progress(context, &info)) return ZIP_OK;
    }
    int status;
    if (IsSeparator(path.back())) {
      const std::wstring folderPath = path.substr(0, path.size() - 1);
      status = folderPath.size() <= kMaxPathLength && CreateDirectoryPath(files_, system_, folderPath)
                   ? ZIP_OK
                   : ZIP_ERR_GENERAL;
    } else {
      status = entry->ExtractToFile(path, false);
    }
    if (status != ZIP_OK) return status;
  }
  return ZIP_OK;
}

}  // namespace vorqzip
