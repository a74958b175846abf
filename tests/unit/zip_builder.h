// Builds ZIP archives byte by byte for the tests, with knobs for every way an archive can be
// wrong: stub bytes in front, a tail behind, relative offsets, local headers that differ.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

struct EntrySpec {
  std::string name;
  std::string data;  // stored as is
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t dosTime = 0x6000;  // 12:00:00
  uint16_t dosDate = 0x5A21;  // 2025-01-01
  uint32_t crc = 0x12345678;
  uint32_t externalAttributes = 0x20;
  uint16_t internalAttributes = 0;
  uint16_t versionMadeBy = 20;
  std::string extra;
  // Overrides of the local header only, to make it differ from the central record.
  bool localZeroCrcAndSizes = false;  // as written with a data descriptor
  std::string localName;              // when non-empty
  int localMethod = -1;
  uint32_t centralUncompressedSize = 0xFFFFFFFF;  // when set, both headers use it
};

struct ArchiveSpec {
  std::string prefix;  // the executable image in front of the archive
  std::vector<EntrySpec> entries;
  std::string comment;
  std::string suffix;             // e.g. a certificate table
  bool relativeOffsets = false;   // offsets counted from the archive start, not the file start
  uint16_t thisDisk = 0;
  uint16_t directoryDisk = 0;
  int entriesOnDiskDelta = 0;     // added to "entries on this disk"
  bool zeroDirectoryOffset = false;
};

inline void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

inline std::string Build(const ArchiveSpec& spec) {
  std::string out = spec.prefix;
  const uint32_t base = spec.relativeOffsets ? static_cast<uint32_t>(spec.prefix.size()) : 0;
  std::vector<uint32_t> localOffsets;
  for (const EntrySpec& e : spec.entries) {
    localOffsets.push_back(static_cast<uint32_t>(out.size()) - base);
    const uint32_t size = e.centralUncompressedSize != 0xFFFFFFFF ? e.centralUncompressedSize
                                                                   : static_cast<uint32_t>(e.data.size());
    const std::string& name = e.localName.empty() ? e.name : e.localName;
    Put32(out, 0x04034B50);
    Put16(out, 20);
    Put16(out, e.flags);
    Put16(out, e.localMethod >= 0 ? static_cast<uint32_t>(e.localMethod) : e.method);
    Put16(out, e.dosTime);
    Put16(out, e.dosDate);
    Put32(out, e.localZeroCrcAndSizes ? 0 : e.crc);
    Put32(out, e.localZeroCrcAndSizes ? 0 : static_cast<uint32_t>(e.data.size()));
    Put32(out, e.localZeroCrcAndSizes ? 0 : size);
    Put16(out, static_cast<uint32_t>(name.size()));
    Put16(out, static_cast<uint32_t>(e.extra.size()));
    out += name;
    out += e.extra;
    out += e.data;
  }
  const uint32_t directoryStart = static_cast<uint32_t>(out.size()) - base;
  for (size_t i = 0; i < spec.entries.size(); ++i) {
    const EntrySpec& e = spec.entries[i];
    const uint32_t size = e.centralUncompressedSize != 0xFFFFFFFF ? e.centralUncompressedSize
                                                                   : static_cast<uint32_t>(e.data.size());
    Put32(out, 0x02014B50);
    Put16(out, e.versionMadeBy);
    Put16(out, 20);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put16(out, e.dosTime);
    Put16(out, e.dosDate);
    Put32(out, e.crc);
    Put32(out, static_cast<uint32_t>(e.data.size()));
    Put32(out, size);
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, 0);  // no central extra field
    Put16(out, 0);  // no comment
    Put16(out, 0);  // disk number start
    Put16(out, e.internalAttributes);
    Put32(out, e.externalAttributes);
    Put32(out, localOffsets[i]);
    out += e.name;
  }
  const uint32_t directorySize = static_cast<uint32_t>(out.size()) - base - directoryStart;
  Put32(out, 0x06054B50);
  Put16(out, spec.thisDisk);
  Put16(out, spec.directoryDisk);
  Put16(out, static_cast<uint32_t>(static_cast<int>(spec.entries.size()) + spec.entriesOnDiskDelta));
  Put16(out, static_cast<uint32_t>(spec.entries.size()));
  Put32(out, directorySize);
  Put32(out, spec.zeroDirectoryOffset ? 0 : directoryStart);
  Put16(out, static_cast<uint32_t>(spec.comment.size()));
  out += spec.comment;
  out += spec.suffix;
  return out;
}

// Something that looks like an executable image: an MZ header and filler.
inline std::string FakeImage(size_t size) {
  std::string image = "MZ";
  while (image.size() < size) image += static_cast<char>(image.size() * 7 % 251);
  return image;
}

}  // namespace ziptest
