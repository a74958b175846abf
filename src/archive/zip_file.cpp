#include "archive/zip_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/port.h"

namespace vorqzip {

namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kLocalHeaderSize = 30;

// Reads little-endian records from absolute positions through a buffer. A read that cannot
// deliver every byte it asks for fails; the caller treats that as a malformed (truncated) archive.
class RecordReader {
 public:
  RecordReader(port::File& file, uint64_t fileSize) : file_(file), fileSize_(fileSize) {}

  // False when the position lies beyond the end of the file.
  bool Seek(uint64_t position) {
    if (position > fileSize_) return false;
    position_ = position;
    return true;
  }
  uint64_t position() const { return position_; }

  // Status of the last failure: ZIP_ERR_SEEK when the platform refused to position the file,
  // ZIP_ERR_FORMAT when the record runs past the end of the file.
  int failure() const { return failure_; }

  bool Bytes(void* out, size_t count) {
    if (count > fileSize_ - position_) {
      failure_ = ZIP_ERR_FORMAT;
      return false;
    }
    auto* dest = static_cast<uint8_t*>(out);
    while (count > 0) {
      if (position_ < bufferStart_ || position_ >= bufferStart_ + buffer_.size()) {
        if (!Fill()) return false;
      }
      const size_t offset = static_cast<size_t>(position_ - bufferStart_);
      const size_t take = std::min(count, buffer_.size() - offset);
      std::memcpy(dest, buffer_.data() + offset, take);
      dest += take;
      count -= take;
      position_ += take;
    }
    return true;
  }
  bool U16(uint32_t* value) {
    uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    *value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8;
    return true;
  }
  bool U32(uint32_t* value) {
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    *value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
             static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
  }
  bool Text(size_t length, std::string* text) {
    text->assign(length, '\0');
    return length == 0 || Bytes(&(*text)[0], length);
  }

 private:
  bool Fill() {
    constexpr size_t kBlock = 64 * 1024;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlock, fileSize_ - position_));
    buffer_.resize(want);
    bufferStart_ = position_;
    if (!file_.Seek(position_)) {
      buffer_.clear();
      failure_ = ZIP_ERR_SEEK;
      return false;
    }
    uint32_t got = 0;
    if (!file_.Read(buffer_.data(), static_cast<uint32_t>(want), &got) || got != want) {
      buffer_.clear();
      failure_ = ZIP_ERR_FORMAT;
      return false;
    }
    return true;
  }

  port::File& file_;
  uint64_t fileSize_;
  uint64_t position_ = 0;
  std::vector<uint8_t> buffer_;
  uint64_t bufferStart_ = 0;
  int failure_ = ZIP_ERR_FORMAT;
};

// The fields that a local header must repeat from its central record.
struct HeaderFields {
  uint32_t versionNeeded = 0, flags = 0, method = 0, dosTime = 0, dosDate = 0;
  uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
  uint32_t nameLength = 0, extraLength = 0;
};

bool ReadCommonFields(RecordReader& in, HeaderFields* h) {
  return in.U16(&h->versionNeeded) && in.U16(&h->flags) && in.U16(&h->method) &&
         in.U16(&h->dosTime) && in.U16(&h->dosDate) && in.U32(&h->crc) &&
         in.U32(&h->compressedSize) && in.U32(&h->uncompressedSize) && in.U16(&h->nameLength) &&
         in.U16(&h->extraLength);
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace

bool EqualsNoCaseAnsi(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool ZIP_FileEntry::IsDirectory() const {
  if (name.empty()) return false;
  const char last = name.back();
  if (last == '/') return true;
  return last == '\\' && compressedSize == 0 && uncompressedSize == 0;
}

uint32_t FindEndOfCentralDirectory(port::File& file, bool* sizeUnreadable) {
  *sizeUnreadable = false;
  uint64_t size64 = 0;
  if (!file.GetSize(&size64)) {
    *sizeUnreadable = true;
    return 0;
  }
  const uint32_t size = static_cast<uint32_t>(size64);
  const uint32_t window = std::min<uint32_t>(size, kEndRecordSearchWindow);
  uint8_t block[1028];
  uint32_t back = 4;
  while (back < window) {
    back = std::min<uint32_t>(back + 1024, window);
    const uint32_t start = size - back;
    const uint32_t length = std::min<uint32_t>(1028, back);
    uint32_t got = 0;
    if (!file.Seek(start) || !file.Read(block, length, &got) || got != length) break;
    for (int32_t i = static_cast<int32_t>(length) - 4; i >= 0; --i) {
      if (block[i] == 0x50 && block[i + 1] == 0x4B && block[i + 2] == 0x05 && block[i + 3] == 0x06) {
        return start + static_cast<uint32_t>(i);  // 0 when the hit is at the very start
      }
    }
  }
  return 0;
}

ZIP_File::ZIP_File(port::FileSystem& files, port::SystemFacts& system)
    : files_(files), system_(system) {}

ZIP_File::~ZIP_File() { Close(); }

void ZIP_File::Close() {
  entries_.clear();
  fileHandle_.reset();
  centralDirectoryOffset_ = 0;
}

int ZIP_File::Open(const std::wstring& path) {
  if (fileHandle_ || !entries_.empty()) Close();
  std::unique_ptr<port::File> file = files_.OpenForRead(path);
  if (!file) return ZIP_ERR_OPEN;
  const int status = ReadCentralDirectory(*file);
  if (status != ZIP_OK) {
    Close();
    return status;
  }
  for (auto& entry : entries_) entry->archiveHandle = file.get();
  fileHandle_ = std::move(file);
  return ZIP_OK;
}

int ZIP_File::ReadCentralDirectory(port::File& file) {
  uint64_t fileSize = 0;
  if (!file.GetSize(&fileSize)) return ZIP_ERR_SEEK;
  if (fileSize >= kMaxArchiveFileSize) return ZIP_ERR_FORMAT;

  bool sizeUnreadable = false;
  const uint32_t endRecord = FindEndOfCentralDirectory(file, &sizeUnreadable);
  if (sizeUnreadable) return ZIP_ERR_SEEK;
  if (endRecord == 0) return ZIP_ERR_GENERAL;

  RecordReader in(file, fileSize);
  if (!in.Seek(endRecord)) return ZIP_ERR_SEEK;
  uint32_t signature = 0, thisDisk = 0, directoryDisk = 0, entriesHere = 0, totalEntries = 0;
  uint32_t directorySize = 0, commentLength = 0;
  std::string comment;
  if (!in.U32(&signature)) return in.failure();
  if (signature != kEndSignature) return ZIP_ERR_FORMAT;
  if (!in.U16(&thisDisk) || !in.U16(&directoryDisk) || !in.U16(&entriesHere) ||
      !in.U16(&totalEntries) || !in.U32(&directorySize) || !in.U32(&centralDirectoryOffset_) ||
      !in.U16(&commentLength) || !in.Text(commentLength, &comment)) {
    centralDirectoryOffset_ = 0;
    return in.failure();
  }
  if (thisDisk != 0 || directoryDisk != 0 || entriesHere != totalEntries) {
    centralDirectoryOffset_ = 0;
    return ZIP_ERR_FORMAT;
  }
  if (centralDirectoryOffset_ == 0) return ZIP_OK;  // a valid record without entries
  if (!in.Seek(centralDirectoryOffset_)) return ZIP_ERR_FORMAT;

  for (uint32_t index = 0; index < totalEntries; ++index) {
    HeaderFields central;
    uint32_t versionMadeBy = 0, commentLen = 0, diskStart = 0, internalAttr = 0, externalAttr = 0;
    uint32_t localOffset = 0;
    std::string centralName, centralExtra, centralComment;
    if (!in.U32(&signature)) return in.failure();
    if (signature != kCentralSignature) return ZIP_ERR_FORMAT;
    if (!in.U16(&versionMadeBy) || !ReadCommonFields(in, &central) || !in.U16(&commentLen) ||
        !in.U16(&diskStart) || !in.U16(&internalAttr) || !in.U32(&externalAttr) ||
        !in.U32(&localOffset) || !in.Text(central.nameLength, &centralName) ||
        !in.Text(central.extraLength, &centralExtra) || !in.Text(commentLen, &centralComment)) {
      return in.failure();
    }
    const uint64_t nextRecord = in.position();

    std::unique_ptr<ZIP_FileEntry> entry(new (std::nothrow) ZIP_FileEntry);
    if (!entry) return ZIP_ERR_MEMORY;
    if (!in.Seek(localOffset)) return ZIP_ERR_FORMAT;
    HeaderFields local;
    std::string localExtra;
    if (!in.U32(&signature)) return in.failure();
    if (signature != kLocalSignature) return ZIP_ERR_FORMAT;
    if (!ReadCommonFields(in, &local) || !in.Text(local.nameLength, &entry->name) ||
        !in.Text(local.extraLength, &localExtra)) {
      return in.failure();
    }
    entry->versionNeeded = local.versionNeeded;
    entry->flags = local.flags;
    entry->method = local.method;
    entry->dosTime = local.dosTime;
    entry->dosDate = local.dosDate;
    entry->storedCrc = local.crc;
    entry->compressedSize = local.compressedSize;
    entry->uncompressedSize = local.uncompressedSize;
    entry->extraField = localExtra.substr(0, localExtra.find('\0'));
    entry->versionMadeBy = versionMadeBy;
    entry->diskNumberStart = diskStart;
    entry->internalAttributes = internalAttr;
    entry->externalAttributes = externalAttr;
    entry->localHeaderOffset = localOffset;
    const uint64_t dataOffset =
        uint64_t{localOffset} + kLocalHeaderSize + local.nameLength + local.extraLength;
    entry->dataOffset = static_cast<uint32_t>(dataOffset);

    if (local.versionNeeded != central.versionNeeded || local.flags != central.flags ||
        local.method != central.method || local.dosTime != central.dosTime ||
        local.dosDate != central.dosDate || local.crc != central.crc ||
        local.compressedSize != central.compressedSize ||
        local.uncompressedSize != central.uncompressedSize || entry->name != centralName) {
      return ZIP_ERR_FORMAT;
    }
    // An entry without a name cannot be looked up or extracted, and an entry whose data runs
    // past the end of the file is truncated: the archive is refused as a whole.
    if (entry->name.empty() || dataOffset + local.compressedSize > fileSize) return ZIP_ERR_FORMAT;

    entry->owner = this;
    entries_.push_back(std::move(entry));
    if (!in.Seek(nextRecord)) return ZIP_ERR_SEEK;
  }
  return ZIP_OK;
}

int ZIP_File::GetEntryCount() const { return static_cast<int>(entries_.size()); }

ZIP_FileEntry* ZIP_File::GetEntry(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return nullptr;
  return entries_[static_cast<size_t>(index)].get();
}

ZIP_FileEntry* ZIP_File::FindEntry(const std::wstring& name) const {
  const std::string ansi = system_.WideToAnsi(name, port::CodePage::kThreadAnsi);
  for (const auto& entry : entries_) {
    if (EqualsNoCaseAnsi(entry->name, ansi)) return entry.get();
  }
  return nullptr;
}

ZIP_EnumCursor* ZIP_File::BeginEnum() const { return new (std::nothrow) ZIP_EnumCursor; }

ZIP_FileEntry* ZIP_File::NextEntry(ZIP_EnumCursor* cursor) const {
  if (!cursor || cursor->finished) return nullptr;
  if (cursor->next >= entries_.size()) {
    cursor->finished = true;
    return nullptr;
  }
  return entries_[cursor->next++].get();
}

void ZIP_File::EndEnum(ZIP_EnumCursor* cursor) { delete cursor; }

}  // namespace vorqzip
