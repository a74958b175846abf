#include "platform/testenv/test_platform.h"

#include <algorithm>
#include <cstring>

#include "platform/cmdline_split.h"
#include "resources/string_table.h"

namespace testenv {

namespace {

// Windows-1252 code points for bytes 0x80..0x9F; 0 marks the five unassigned bytes.
const wchar_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

wchar_t FoldUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

}  // namespace

std::string WideToCp1252(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += static_cast<char>(c);
      continue;
    }
    const wchar_t* hit = std::find(kCp1252High, kCp1252High + 32, c);
    out += (c != 0 && hit != kCp1252High + 32) ? static_cast<char>(0x80 + (hit - kCp1252High)) : '?';
  }
  return out;
}

std::wstring Cp1252ToWide(const std::string& text) {
  std::wstring out;
  for (unsigned char b : text) {
    if (b >= 0x80 && b <= 0x9F) {
      // Unassigned bytes map to the C1 control of the same value, as the platform does.
      out += kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : static_cast<wchar_t>(b);
    } else {
      out += static_cast<wchar_t>(b);
    }
  }
  return out;
}

bool WildcardMatch(const std::wstring& pattern, const std::wstring& name) {
  size_t p = 0, n = 0, star = std::wstring::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || FoldUpper(pattern[p]) == FoldUpper(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      mark = n;
    } else if (star != std::wstring::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

// An open emulated file: reads, writes and seeks over the node's bytes, with the injected faults.
class TestFile : public port::File {
 public:
  TestFile(TestPlatform& platform, TestPlatform::Node& node, bool exclusive)
      : platform_(platform), node_(node), exclusive_(exclusive) {
    ++platform_.openFiles_;
    ++node_.openCount;
    if (exclusive_) node_.openExclusive = true;
  }
  ~TestFile() override {
    --platform_.openFiles_;
    --node_.openCount;
    if (exclusive_) node_.openExclusive = false;
  }

  bool Read(void* buffer, uint32_t size, uint32_t* bytesRead) override {
    *bytesRead = 0;
    if (platform_.faults.failReadsFrom >= 0 &&
        position_ + size > static_cast<uint64_t>(platform_.faults.failReadsFrom)) {
      platform_.SetLastError(port::kErrorHandleEof);
      return false;
    }
    if (position_ < node_.bytes.size()) {
      const size_t take = std::min<size_t>(size, node_.bytes.size() - position_);
      std::memcpy(buffer, node_.bytes.data() + position_, take);
      *bytesRead = static_cast<uint32_t>(take);
      position_ += take;
    }
    return true;  // reading at the end delivers 0 bytes and succeeds, as ReadFile does
  }
  bool Write(const void* buffer, uint32_t size, uint32_t* bytesWritten) override {
    *bytesWritten = 0;
    int64_t& left = platform_.faults.diskBytesLeft;
    const uint64_t end = position_ + size;
    const uint64_t growth = end > node_.bytes.size() ? end - node_.bytes.size() : 0;
    if (left >= 0 && growth > static_cast<uint64_t>(left)) {
      platform_.SetLastError(port::kErrorDiskFull);
      return false;
    }
    if (left >= 0) left -= static_cast<int64_t>(growth);
    if (node_.bytes.size() < end) node_.bytes.resize(end);
    std::memcpy(&node_.bytes[position_], buffer, size);
    position_ = end;
    *bytesWritten = size;
    node_.times.lastWrite = platform_.clock;
    return true;
  }
  bool Seek(uint64_t offset) override {
    if (platform_.faults.failSeek) {
      platform_.SetLastError(port::kErrorInvalidParameter);
      return false;
    }
    position_ = offset;
    return true;
  }
  bool SeekToEnd() override { return Seek(node_.bytes.size()); }
  bool GetSize(uint64_t* size) override {
    if (platform_.faults.failGetSize) {
      platform_.SetLastError(port::kErrorInvalidHandle);
      return false;
    }
    *size = platform_.faults.reportedSize >= 0 ? static_cast<uint64_t>(platform_.faults.reportedSize)
                                               : node_.bytes.size();
    return true;
  }
  bool GetTimes(port::FileTimes* times) override {
    *times = node_.times;
    return true;
  }
  bool SetTimes(const port::FileTimes& times) override {
    if (platform_.faults.failSetTimes) {
      platform_.SetLastError(port::kErrorAccessDenied);
      return false;
    }
    if (times.creation) node_.times.creation = times.creation;
    if (times.lastAccess) node_.times.lastAccess = times.lastAccess;
    if (times.lastWrite) node_.times.lastWrite = times.lastWrite;
    return true;
  }

 private:
  TestPlatform& platform_;
  TestPlatform::Node& node_;
  bool exclusive_;
  uint64_t position_ = 0;
};

class TestChild : public port::ChildProcess {
 public:
  TestChild(TestPlatform& platform, ChildBehaviour behaviour) : platform_(platform), behaviour_(std::move(behaviour)) {}
  port::WaitResult Wait(uint32_t) override {
    if (ended_) return port::WaitResult::kEnded;
    if (timeouts_ < behaviour_.timeoutsBeforeEnd || pendingOutput() > 0) {
      ++timeouts_;
      // A child whose output nobody reads stays blocked on the full pipe for ever; the test
      // sees that as a wait that never ends.
      if (timeouts_ > 1000) return port::WaitResult::kFailed;
      return port::WaitResult::kTimeout;
    }
    ended_ = true;
    platform_.nowSeconds += behaviour_.runSeconds;
    if (behaviour_.onRun) behaviour_.onRun();
    return port::WaitResult::kEnded;
  }
  bool GetExitCode(uint32_t* code) override {
    *code = ended_ ? behaviour_.exitCode : 259;  // STILL_ACTIVE
    return true;
  }
  void DrainOutput() override {
    ++platform_.drains;
    drained_ = behaviour_.outputBytes;
  }

 private:
  // A pipe holds 4 KiB; more than that waits for a reader.
  uint64_t pendingOutput() const {
    const uint64_t left = behaviour_.outputBytes - drained_;
    return left > 4096 ? left : 0;
  }
  TestPlatform& platform_;
  ChildBehaviour behaviour_;
  int timeouts_ = 0;
  bool ended_ = false;
  uint64_t drained_ = 0;
};

class TestSnapshot : public port::ProcessSnapshot {
 public:
  explicit TestSnapshot(std::vector<port::ProcessEntry> entries) : entries_(std::move(entries)) {}
  bool First(port::ProcessEntry* entry) override {
    next_ = 0;
    return Next(entry);
  }
  bool Next(port::ProcessEntry* entry) override {
    if (next_ >= entries_.size()) return false;
    *entry = entries_[next_++];
    return true;
  }

 private:
  std::vector<port::ProcessEntry> entries_;
  size_t next_ = 0;
};

TestPlatform::TestPlatform() {
  AddFolder(L"C:\\");
  AddFolder(currentDirectory);
  AddFolder(tempPath);
  processes = {{4, 0, L"System"}, {1000, 4, L"explorer.exe"}, {processId, 1000, L"pkg.exe"}};
  environment[L"SYSTEMDRIVE"] = L"C:";
  environment[L"TEMP"] = L"C:\\Users\\admin\\AppData\\Local\\Temp";
  systemMessages[port::kErrorFileNotFound] = L"The system cannot find the file specified.\r\n";
  systemMessages[port::kErrorPathNotFound] = L"The system cannot find the path specified.\r\n";
  systemMessages[port::kErrorAccessDenied] = L"Access is denied.\r\n";
}

// Resolves a path the way the platform does before it touches the file system: relative paths
// against the current directory, "\x" against its drive, "/" as "\", "." and ".." components.
std::wstring TestPlatform::Absolute(const std::wstring& path) const {
  if (path.empty()) return path;  // names nothing: every call on it fails
  std::wstring p;
  for (wchar_t c : path) p += c == L'/' ? L'\\' : c;
  if (p.size() >= 2 && p[0] == L'\\' && p[1] == L'\\') return p;  // UNC: left as it is
  if (p.size() >= 2 && p[1] == L':') {
    if (p.size() == 2 || p[2] != L'\\') p.insert(2, L"\\");  // "C:x" taken as "C:\x" here
  } else if (!p.empty() && p[0] == L'\\') {
    p = currentDirectory.substr(0, 2) + p;
  } else {
    p = currentDirectory + (currentDirectory.back() == L'\\' ? L"" : L"\\") + p;
  }
  // Resolve the components after the drive.
  std::vector<std::wstring> parts;
  size_t i = 3;
  while (i <= p.size()) {
    size_t slash = p.find(L'\\', i);
    if (slash == std::wstring::npos) slash = p.size();
    const std::wstring part = p.substr(i, slash - i);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    i = slash + 1;
  }
  std::wstring out = p.substr(0, 3);
  for (size_t k = 0; k < parts.size(); ++k) out += (k ? L"\\" : L"") + parts[k];
  return out;
}

std::wstring TestPlatform::Key(const std::wstring& path) const {
  std::wstring key;
  for (wchar_t c : Absolute(path)) key += FoldUpper(c);
  while (key.size() > 3 && key.back() == L'\\') key.pop_back();
  return key;
}

std::wstring TestPlatform::ParentOf(const std::wstring& key) {
  if (key.size() <= 3) return std::wstring();
  const size_t slash = key.find_last_of(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  return slash == 2 ? key.substr(0, 3) : key.substr(0, slash);
}

bool TestPlatform::ValidDrivePath(const std::wstring& key) {
  return key.size() >= 3 && key[1] == L':' && key[2] == L'\\';
}

TestPlatform::Node* TestPlatform::Find(const std::wstring& key) {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

const TestPlatform::Node* TestPlatform::Find(const std::wstring& key) const {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

uint32_t TestPlatform::MissingError(const std::wstring& key) const {
  if (!ValidDrivePath(key)) return port::kErrorPathNotFound;
  const Node* parent = Find(ParentOf(key));
  return parent && parent->folder ? port::kErrorFileNotFound : port::kErrorPathNotFound;
}

void TestPlatform::AddFolder(const std::wstring& path) {
  const std::wstring key = Key(path);
  const std::wstring parent = ParentOf(key);
  if (!parent.empty() && !Find(parent)) AddFolder(parent);
  Node& node = nodes_[key];
  node.folder = true;
  node.attributes = port::kAttrDirectory;
  node.name = Absolute(path).substr(Absolute(path).find_last_of(L'\\') + 1);
  node.times = {clock, clock, clock};
}

void TestPlatform::AddJunction(const std::wstring& path, const std::wstring& target) {
  AddFolder(path);
  Node& node = nodes_[Key(path)];
  node.attributes = port::kAttrDirectory | port::kAttrReparsePoint;
  node.junctionTarget = Key(target);
}

void TestPlatform::AddFile(const std::wstring& path, std::string bytes, uint32_t attributes) {
  const std::wstring key = Key(path);
  const std::wstring parent = ParentOf(key);
  if (!parent.empty()) AddFolder(Absolute(path).substr(0, Absolute(path).find_last_of(L'\\') + 1));
  Node& node = nodes_[key];
  node.folder = false;
  node.bytes = std::move(bytes);
  node.attributes = attributes;
  node.name = Absolute(path).substr(Absolute(path).find_last_of(L'\\') + 1);
  node.times = {clock, clock, clock};
}

bool TestPlatform::Exists(const std::wstring& path) const { return Find(Key(path)) != nullptr; }

bool TestPlatform::IsFolder(const std::wstring& path) const {
  const Node* node = Find(Key(path));
  return node && node->folder;
}

std::string TestPlatform::FileBytes(const std::wstring& path) const {
  const Node* node = Find(Key(path));
  return node ? node->bytes : std::string();
}

uint32_t TestPlatform::Attributes(const std::wstring& path) const {
  const Node* node = Find(Key(path));
  return node ? node->attributes : 0;
}

port::FileTimes TestPlatform::Times(const std::wstring& path) const {
  const Node* node = Find(Key(path));
  return node ? node->times : port::FileTimes();
}

std::vector<std::wstring> TestPlatform::Tree(const std::wstring& folder) const {
  const std::wstring root = Key(folder);
  std::vector<std::wstring> out;
  for (const auto& entry : nodes_) {
    if (entry.first.size() > root.size() + 1 && entry.first.compare(0, root.size(), root) == 0 &&
        entry.first[root.size()] == L'\\') {
      // Rebuild the original-case path from the components' names.
      std::wstring path;
      std::wstring key = entry.first;
      while (key.size() > root.size()) {
        path = L"\\" + Find(key)->name + path;
        key = ParentOf(key);
      }
      out.push_back(path.substr(1));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

void TestPlatform::LockFile(const std::wstring& path) {
  if (Node* node = Find(Key(path))) node->locked = true;
}

std::unique_ptr<port::File> TestPlatform::OpenForRead(const std::wstring& path) {
  const std::wstring key = Key(path);
  Node* node = Find(key);
  if (!node) {
    SetLastError(MissingError(key));
    return nullptr;
  }
  if (node->folder) {
    SetLastError(port::kErrorAccessDenied);
    return nullptr;
  }
  if (node->openExclusive) {
    SetLastError(32);  // sharing violation
    return nullptr;
  }
  SetLastError(port::kErrorSuccess);
  return std::make_unique<TestFile>(*this, *node, false);
}

std::unique_ptr<port::File> TestPlatform::CreateForWrite(const std::wstring& path, port::CreateMode mode,
                                                         port::ShareMode share) {
  const std::wstring key = Key(path);
  if (key.size() >= 260) {
    SetLastError(port::kErrorFilenameExcedRange);
    return nullptr;
  }
  const Node* parent = Find(ParentOf(key));
  if (!ValidDrivePath(key) || !parent || !parent->folder) {
    SetLastError(port::kErrorPathNotFound);
    return nullptr;
  }
  Node* node = Find(key);
  if (node) {
    if (node->folder) {
      SetLastError(port::kErrorAccessDenied);
      return nullptr;
    }
    if (mode == port::CreateMode::kCreateNew) {
      SetLastError(port::kErrorFileExists);
      return nullptr;
    }
    if (node->openExclusive || (node->openCount > 0 && share == port::ShareMode::kExclusive)) {
      SetLastError(32);
      return nullptr;
    }
    // Replacing a read-only file, or a hidden or system file with normal attributes, is denied.
    if ((node->attributes & port::kAttrReadOnly) ||
        (mode == port::CreateMode::kCreateAlways &&
         (node->attributes & (port::kAttrHidden | port::kAttrSystem)))) {
      SetLastError(port::kErrorAccessDenied);
      return nullptr;
    }
    if (mode == port::CreateMode::kCreateAlways) {
      node->bytes.clear();
      node->attributes = port::kAttrArchive;
      node->times.lastWrite = node->times.lastAccess = clock;
      SetLastError(port::kErrorAlreadyExists);  // as CREATE_ALWAYS reports on an existing file
    } else {
      SetLastError(port::kErrorAlreadyExists);
    }
  } else {
    AddFile(path, std::string());
    node = Find(key);
    SetLastError(port::kErrorSuccess);
  }
  return std::make_unique<TestFile>(*this, *node, share == port::ShareMode::kExclusive);
}

bool TestPlatform::CreateDirectory(const std::wstring& path) {
  const std::wstring key = Key(path);
  if (key.size() > 248) {
    SetLastError(port::kErrorFilenameExcedRange);
    return false;
  }
  if (Find(key)) {
    SetLastError(port::kErrorAlreadyExists);
    return false;
  }
  const Node* parent = Find(ParentOf(key));
  if (!ValidDrivePath(key) || !parent || !parent->folder) {
    SetLastError(port::kErrorPathNotFound);
    return false;
  }
  AddFolder(path);
  SetLastError(port::kErrorSuccess);
  return true;
}

bool TestPlatform::RemoveDirectory(const std::wstring& path) {
  const std::wstring key = Key(path);
  Node* node = Find(key);
  if (!node || !node->folder) {
    SetLastError(node ? 267u : MissingError(key));  // 267: the directory name is invalid
    return false;
  }
  if (node->attributes & port::kAttrReadOnly) {
    SetLastError(port::kErrorAccessDenied);
    return false;
  }
  if (node->junctionTarget.empty()) {
    for (const auto& entry : nodes_) {
      if (ParentOf(entry.first) == key && entry.first != key) {
        SetLastError(145);  // the directory is not empty
        return false;
      }
    }
  }
  nodes_.erase(key);  // a junction goes alone; its target stays
  SetLastError(port::kErrorSuccess);
  return true;
}

bool TestPlatform::DeleteFile(const std::wstring& path) {
  const std::wstring key = Key(path);
  Node* node = Find(key);
  if (!node || node->folder) {
    SetLastError(node ? port::kErrorAccessDenied : MissingError(key));
    return false;
  }
  if (node->attributes & port::kAttrReadOnly) {
    SetLastError(port::kErrorAccessDenied);
    return false;
  }
  if (node->locked || node->openCount > 0) {
    SetLastError(32);
    return false;
  }
  nodes_.erase(key);
  SetLastError(port::kErrorSuccess);
  return true;
}

bool TestPlatform::DeleteAtReboot(const std::wstring& path) {
  deletedAtReboot.push_back(path);
  return true;
}

uint32_t TestPlatform::GetAttributes(const std::wstring& path) {
  const std::wstring key = Key(path);
  const Node* node = Find(key);
  if (!node) {
    SetLastError(MissingError(key));
    return port::kInvalidAttributes;
  }
  return node->attributes;
}

bool TestPlatform::SetAttributes(const std::wstring& path, uint32_t attributes) {
  const std::wstring key = Key(path);
  Node* node = Find(key);
  if (!node) {
    SetLastError(MissingError(key));
    return false;
  }
  // The folder and reparse flags are not settable; "normal" alone means no other flag.
  uint32_t kept = node->attributes & (port::kAttrDirectory | port::kAttrReparsePoint);
  uint32_t settable = attributes & ~(port::kAttrDirectory | port::kAttrReparsePoint | port::kAttrNormal);
  node->attributes = kept | settable;
  return true;
}

bool TestPlatform::CopyFile(const std::wstring& from, const std::wstring& to, bool failIfExists) {
  const Node* source = Find(Key(from));
  if (!source || source->folder) {
    SetLastError(source ? port::kErrorAccessDenied : MissingError(Key(from)));
    return false;
  }
  const std::string bytes = source->bytes;
  const uint32_t attributes = source->attributes;
  std::unique_ptr<port::File> target =
      CreateForWrite(to, failIfExists ? port::CreateMode::kCreateNew : port::CreateMode::kCreateAlways,
                     port::ShareMode::kExclusive);
  if (!target) return false;
  uint32_t written = 0;
  if (!target->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written)) return false;
  target.reset();
  Find(Key(to))->attributes = attributes;
  return true;
}

bool TestPlatform::ListFolder(const std::wstring& pattern, std::vector<port::FindData>* entries) {
  entries->clear();
  const std::wstring absolute = Absolute(pattern);
  const size_t slash = absolute.find_last_of(L'\\');
  std::wstring folder = Key(absolute.substr(0, slash + 1));
  const std::wstring leaf = absolute.substr(slash + 1);
  const Node* node = Find(folder);
  if (!node || !node->folder) {
    SetLastError(node ? port::kErrorPathNotFound : MissingError(folder + L"\\x"));
    return false;
  }
  if (!node->junctionTarget.empty()) folder = node->junctionTarget;  // the link shows its target
  if (WildcardMatch(leaf, L".")) entries->push_back({L".", port::kAttrDirectory});
  if (WildcardMatch(leaf, L"..")) entries->push_back({L"..", port::kAttrDirectory});
  for (const auto& entry : nodes_) {
    if (entry.first == folder || ParentOf(entry.first) != folder) continue;
    if (WildcardMatch(leaf, entry.second.name)) entries->push_back({entry.second.name, entry.second.attributes});
  }
  if (entries->empty()) {
    SetLastError(port::kErrorFileNotFound);
    return false;
  }
  return true;
}

bool TestPlatform::SetCurrentDirectory(const std::wstring& path) {
  const Node* node = Find(Key(path));
  if (!node || !node->folder) {
    SetLastError(node ? 267u : MissingError(Key(path)));
    return false;
  }
  currentDirectory = Absolute(path);
  return true;
}

bool TestPlatform::GetFreeSpace(const std::wstring& path, uint64_t* freeBytes) {
  const std::wstring key = Key(path);
  if (!ValidDrivePath(key) || !Find(key.substr(0, 3))) {
    SetLastError(port::kErrorPathNotFound);
    return false;
  }
  auto it = freeSpaceByDrive.find(key.substr(0, 1));
  *freeBytes = it == freeSpaceByDrive.end() ? 100ull << 30 : it->second;
  return true;
}

bool TestPlatform::FindFirstMatch(const std::wstring& pattern) {
  std::vector<port::FindData> entries;
  return ListFolder(pattern, &entries);
}

std::wstring TestPlatform::ModuleFileName(size_t capacity) { return modulePath.substr(0, capacity); }

std::unique_ptr<port::ProcessSnapshot> TestPlatform::SnapshotProcesses() {
  if (failSnapshot) return nullptr;
  return std::make_unique<TestSnapshot>(processes);
}

bool TestPlatform::SetShutdownLevel(uint32_t level, uint32_t) {
  shutdownLevel = level;
  return true;
}

bool TestPlatform::SplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>* args) {
  *args = port::SplitCommandLineLikeWindows(commandLine, modulePath);
  return true;
}

void TestPlatform::RestrictDllSearchToSystem() {
  dllSearchRestricted = true;
  if (loadedLibraries.empty()) dllSearchRestrictedBeforeLoad = true;
}

std::unique_ptr<port::ChildProcess> TestPlatform::StartProcess(const port::ProcessStart& start) {
  // The program is the first token of the command line, quoted or not.
  const std::vector<std::wstring> tokens = port::SplitCommandLineLikeWindows(start.commandLine, L"");
  const std::wstring program = tokens.empty() ? std::wstring() : tokens[0];
  ChildBehaviour behaviour;
  if (childBehaviour) {
    behaviour = childBehaviour(start);
  } else {
    const Node* node = Find(Key(program));
    behaviour.starts = node && !node->folder;
  }
  const Node* folder = Find(Key(start.currentDirectory));
  if (!folder || !folder->folder) {
    behaviour.starts = false;
    behaviour.startError = 267;  // the directory name is invalid
  }
  if (!behaviour.starts) {
    SetLastError(behaviour.startError);
    return nullptr;
  }
  startedChildren.push_back({start, environment});
  return std::make_unique<TestChild>(*this, std::move(behaviour));
}

port::ModuleHandle TestPlatform::LoadSystemLibrary(const std::wstring& name) {
  if (failLibraryLoad) {
    SetLastError(port::kErrorFileNotFound);
    return nullptr;
  }
  loadedLibraries.push_back(name);
  return reinterpret_cast<port::ModuleHandle>(nextHandle_++);
}

void TestPlatform::FreeLibrary(port::ModuleHandle) { ++freedLibraries; }

std::string TestPlatform::WideToAnsi(const std::wstring& text, port::CodePage) {
  return WideToCp1252(text);
}

std::wstring TestPlatform::AnsiToWide(const std::string& text, port::CodePage) {
  return Cp1252ToWide(text);
}

bool TestPlatform::GetEnvironmentVariable(const std::wstring& name, std::wstring* value) {
  for (const auto& entry : environment) {
    if (Key(L"C:\\" + entry.first) == Key(L"C:\\" + name)) {
      *value = entry.second;
      return true;
    }
  }
  SetLastError(203);  // ERROR_ENVVAR_NOT_FOUND
  return false;
}

bool TestPlatform::SetEnvironmentVariable(const std::wstring& name, const std::wstring& value) {
  if (faults.failEnvironmentSet) {
    SetLastError(port::kErrorNotEnoughMemory);
    return false;
  }
  for (auto& entry : environment) {
    if (Key(L"C:\\" + entry.first) == Key(L"C:\\" + name)) {
      entry.second = value;
      return true;
    }
  }
  environment[name] = value;
  return true;
}

std::wstring TestPlatform::ExpandEnvironmentStrings(const std::wstring& text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t open = text.find(L'%', i);
    const size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
    if (close == std::wstring::npos) {
      out += text.substr(i);
      break;
    }
    out += text.substr(i, open - i);
    std::wstring value;
    if (GetEnvironmentVariable(text.substr(open + 1, close - open - 1), &value)) {
      out += value;
      i = close + 1;
    } else {
      out += text.substr(open, close - open);  // unknown names stay as written
      i = close;
    }
  }
  return out;
}

std::wstring TestPlatform::FormatSystemMessage(uint32_t error) {
  auto it = systemMessages.find(error);
  return it == systemMessages.end() ? std::wstring() : it->second;
}

std::wstring TestPlatform::NewGuidText() {
  wchar_t text[40];
  const unsigned n = static_cast<unsigned>(++guidCounter);
  swprintf(text, 40, L"{%08X-0000-4000-8000-%012X}", 0x1234ABCDu + n, n);
  return text;
}

bool TestPlatform::LocalFileTimeToUtc(uint64_t local, uint64_t* utc) {
  *utc = static_cast<uint64_t>(static_cast<int64_t>(local) + timeZoneBiasMinutes * 600000000ll);
  return true;
}

bool TestPlatform::ModuleFileVersion(uint16_t parts[4]) {
  if (!hasVersionResource) return false;
  for (int i = 0; i < 4; ++i) parts[i] = fileVersion[i];
  return true;
}

std::wstring TestPlatform::LoadString(uint32_t id, size_t capacity) {
  const wchar_t* text = res::LookupString(id, uiLanguage);
  if (!text || capacity == 0) return std::wstring();
  return std::wstring(text).substr(0, capacity - 1);
}

int TestPlatform::MessageBox(port::WindowHandle owner, const std::wstring& text,
                             const std::wstring& caption, uint32_t style) {
  messageBoxes.push_back({owner, text, caption, style});
  if (messageBoxAnswers.empty()) return port::kIdOk;
  const int answer = messageBoxAnswers.front();
  messageBoxAnswers.pop_front();
  return answer;
}

intptr_t TestPlatform::ShowModalDialog(uint32_t templateId, port::WindowHandle owner,
                                       port::DialogController* controller) {
  DialogCall call{templateId, owner, {}, -1};
  std::vector<uint32_t> commands;
  if (!dialogCommands.empty()) {
    commands = dialogCommands.front();
    dialogCommands.pop_front();
  }
  for (uint32_t command : commands) {
    const port::DialogCommandResult result = controller->OnCommand(command);
    call.results.push_back(result);
    if (result.endDialog) {
      call.endResult = result.endResult;
      break;
    }
  }
  dialogs.push_back(call);
  return call.endResult;
}

port::IconHandle TestPlatform::LoadIcon(uint32_t, bool) {
  if (failIconLoad) return nullptr;
  ++iconsLoaded;
  return reinterpret_cast<port::IconHandle>(nextHandle_++);
}

void TestPlatform::DestroyIcon(port::IconHandle) { ++iconsDestroyed; }

bool TestPlatform::AddTrayIcon(port::WindowHandle window, port::IconHandle, const std::wstring& tip) {
  trayIcons[window] = tip;
  ++trayIconsAdded;
  return true;
}

port::WindowHandle TestPlatform::CreateProgressDialog(port::WindowHandle owner) {
  progressDialogs.push_back({owner, {}, false});
  // Dialog handles are their index + 1 in the list, shifted into a range of their own.
  return reinterpret_cast<port::WindowHandle>(0x70000 + progressDialogs.size());
}

void TestPlatform::SetProgress(port::WindowHandle dialog, int position) {
  const uintptr_t index = reinterpret_cast<uintptr_t>(dialog) - 0x70001;
  if (index < progressDialogs.size()) progressDialogs[index].positions.push_back(position);
}

void TestPlatform::DestroyWindow(port::WindowHandle window) {
  const uintptr_t index = reinterpret_cast<uintptr_t>(window) - 0x70001;
  if (index < progressDialogs.size()) progressDialogs[index].destroyed = true;
  destroyedWindows.push_back(window);
}

}  // namespace testenv

// --- Emulated registry ---------------------------------------------------------------------------

namespace testenv {

// An open key: its view, its rights and the stored path of the key it refers to.
class TestRegistryKey : public port::RegistryKey {
 public:
  TestRegistryKey(TestRegistry& registry, port::RegistryView view, std::vector<std::wstring> components,
                  port::RegistryAccess access)
      : registry_(registry), view_(view), components_(std::move(components)), access_(access) {
    ++registry_.openKeys_;
  }
  ~TestRegistryKey() override { --registry_.openKeys_; }

  uint32_t EnumSubkey(uint32_t index, std::wstring* name) override {
    if (access_ == port::RegistryAccess::kQueryValues) return port::kErrorAccessDenied;
    const TestRegistry::Node* node = registry_.Find(components_);
    if (!node) return port::kErrorKeyDeleted;
    if (index >= node->subkeys.size()) return port::kErrorNoMoreItems;
    *name = node->subkeys[index].name;
    return port::kErrorSuccess;
  }

  uint32_t OpenSubkey(const std::wstring& name, port::RegistryAccess access,
                      std::unique_ptr<port::RegistryKey>* key) override {
    if (!registry_.Find(components_)) return port::kErrorKeyDeleted;
    std::vector<std::wstring> path = components_;
    for (std::wstring& part : TestRegistry::Resolve(port::RegistryView::k64Bit, name)) path.push_back(part);
    return registry_.Open(view_, std::move(path), access, false, key);
  }

  uint32_t QueryString(const std::wstring& name, size_t capacityBytes, std::wstring* value) override {
    const TestRegistry::Node* node = registry_.Find(components_);
    if (!node) return port::kErrorKeyDeleted;
    for (const auto& entry : node->values) {
      if (TestRegistry::Fold(entry.first) != TestRegistry::Fold(name)) continue;
      // Stored as UTF-16 with its terminating null, as SetString writes it.
      size_t bytes = 2;
      for (wchar_t c : entry.second) bytes += static_cast<uint32_t>(c) > 0xFFFF ? 4 : 2;
      if (bytes > capacityBytes) return port::kErrorMoreData;
      *value = entry.second;
      return port::kErrorSuccess;
    }
    return port::kErrorFileNotFound;
  }

  uint32_t SetString(const std::wstring& name, const std::wstring& value) override {
    if (access_ != port::RegistryAccess::kAll) return port::kErrorAccessDenied;
    if (!registry_.Find(components_)) return port::kErrorKeyDeleted;
    std::wstring text = value.substr(0, value.find(L'\0'));
    registry_.SetValue(Joined(), name, text);
    return port::kErrorSuccess;
  }

  uint32_t DeleteSubkey(const std::wstring& name) override {
    TestRegistry::Node* parent = registry_.Find(components_);
    if (!parent) return port::kErrorKeyDeleted;
    std::vector<std::wstring> path = components_;
    path.push_back(name);
    const std::wstring folded = TestRegistry::Fold(name);
    auto it = std::find_if(parent->subkeys.begin(), parent->subkeys.end(),
                           [&](const TestRegistry::Node& n) { return TestRegistry::Fold(n.name) == folded; });
    if (it == parent->subkeys.end()) return port::kErrorFileNotFound;
    if (TestRegistry::Listed(registry_.failDelete, path) || TestRegistry::Listed(registry_.failOpen, path) ||
        !it->subkeys.empty()) {
      return port::kErrorAccessDenied;
    }
    parent->subkeys.erase(it);
    return port::kErrorSuccess;
  }

 private:
  std::wstring Joined() const {
    std::wstring path;
    for (const std::wstring& part : components_) path += (path.empty() ? L"" : L"\\") + part;
    return path;
  }

  TestRegistry& registry_;
  port::RegistryView view_;
  std::vector<std::wstring> components_;
  port::RegistryAccess access_;
};

std::wstring TestRegistry::Fold(const std::wstring& text) {
  std::wstring folded;
  for (wchar_t c : text) folded += FoldUpper(c);
  return folded;
}

std::vector<std::wstring> TestRegistry::Resolve(port::RegistryView view, const std::wstring& path) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (view == port::RegistryView::k32Bit && !parts.empty() && Fold(parts[0]) == L"SOFTWARE" &&
      (parts.size() < 2 || Fold(parts[1]) != L"WOW6432NODE")) {
    parts.insert(parts.begin() + 1, L"WOW6432Node");
  }
  return parts;
}

bool TestRegistry::Listed(const std::vector<std::wstring>& faults, const std::vector<std::wstring>& components) {
  std::wstring folded;
  for (const std::wstring& part : components) folded += (folded.empty() ? L"" : L"\\") + Fold(part);
  for (const std::wstring& fault : faults) {
    std::wstring entry;
    for (const std::wstring& part : Resolve(port::RegistryView::k64Bit, fault)) {
      entry += (entry.empty() ? L"" : L"\\") + Fold(part);
    }
    if (entry == folded) return true;
  }
  return false;
}

const TestRegistry::Node* TestRegistry::Find(const std::vector<std::wstring>& components) const {
  const Node* node = &root_;
  for (const std::wstring& part : components) {
    const std::wstring folded = Fold(part);
    auto it = std::find_if(node->subkeys.begin(), node->subkeys.end(),
                           [&](const Node& n) { return Fold(n.name) == folded; });
    if (it == node->subkeys.end()) return nullptr;
    node = &*it;
  }
  return node;
}

TestRegistry::Node* TestRegistry::Find(const std::vector<std::wstring>& components) {
  return const_cast<Node*>(static_cast<const TestRegistry*>(this)->Find(components));
}

TestRegistry::Node* TestRegistry::Create(const std::vector<std::wstring>& components) {
  Node* node = &root_;
  for (const std::wstring& part : components) {
    const std::wstring folded = Fold(part);
    auto it = std::lower_bound(node->subkeys.begin(), node->subkeys.end(), folded,
                               [](const Node& n, const std::wstring& key) { return Fold(n.name) < key; });
    if (it == node->subkeys.end() || Fold(it->name) != folded) {
      Node child;
      child.name = part;
      it = node->subkeys.insert(it, std::move(child));
    }
    node = &*it;
  }
  return node;
}

uint32_t TestRegistry::Open(port::RegistryView view, std::vector<std::wstring> components,
                            port::RegistryAccess access, bool create, std::unique_ptr<port::RegistryKey>* key) {
  key->reset();
  if (create && Listed(failCreate, components)) return port::kErrorAccessDenied;
  if (Find(components)) {
    if (Listed(failOpen, components)) return port::kErrorAccessDenied;
  } else if (create) {
    Create(components);
  } else {
    return port::kErrorFileNotFound;
  }
  *key = std::make_unique<TestRegistryKey>(*this, view, std::move(components), access);
  return port::kErrorSuccess;
}

uint32_t TestRegistry::CreateKey(port::RegistryView view, const std::wstring& path,
                                 std::unique_ptr<port::RegistryKey>* key) {
  return Open(view, Resolve(view, path), port::RegistryAccess::kAll, true, key);
}

uint32_t TestRegistry::OpenKey(port::RegistryView view, const std::wstring& path, port::RegistryAccess access,
                               std::unique_ptr<port::RegistryKey>* key) {
  return Open(view, Resolve(view, path), access, false, key);
}

void TestRegistry::AddKey(const std::wstring& path) { Create(Resolve(port::RegistryView::k64Bit, path)); }

void TestRegistry::SetValue(const std::wstring& path, const std::wstring& name, const std::wstring& value) {
  Node* node = Create(Resolve(port::RegistryView::k64Bit, path));
  for (auto& entry : node->values) {
    if (Fold(entry.first) == Fold(name)) {
      entry.second = value;
      return;
    }
  }
  node->values.emplace_back(name, value);
}

bool TestRegistry::KeyExists(const std::wstring& path) const {
  return Find(Resolve(port::RegistryView::k64Bit, path)) != nullptr;
}

bool TestRegistry::GetValue(const std::wstring& path, const std::wstring& name, std::wstring* value) const {
  const Node* node = Find(Resolve(port::RegistryView::k64Bit, path));
  if (!node) return false;
  for (const auto& entry : node->values) {
    if (Fold(entry.first) == Fold(name)) {
      *value = entry.second;
      return true;
    }
  }
  return false;
}

std::vector<std::wstring> TestRegistry::Subkeys(const std::wstring& path) const {
  std::vector<std::wstring> names;
  if (const Node* node = Find(Resolve(port::RegistryView::k64Bit, path))) {
    for (const Node& child : node->subkeys) names.push_back(child.name);
  }
  return names;
}

std::vector<std::pair<std::wstring, std::wstring>> TestRegistry::Values(const std::wstring& path) const {
  const Node* node = Find(Resolve(port::RegistryView::k64Bit, path));
  return node ? node->values : std::vector<std::pair<std::wstring, std::wstring>>();
}

}  // namespace testenv

namespace testenv {

port::DriveType TestPlatform::GetDriveType(const std::wstring& root) {
  errorModeWhileProbing.push_back(criticalErrorsSuppressed);
  const wchar_t letter = root.empty() ? L'?' : FoldUpper(root[0]);
  auto it = drives.find(letter);
  if (it != drives.end()) return it->second.type;
  return Find(Key(root.substr(0, 3))) ? port::DriveType::kFixed : port::DriveType::kNoRootDir;
}

bool TestPlatform::IsRootAccessible(const std::wstring& root) {
  const wchar_t letter = root.empty() ? L'?' : FoldUpper(root[0]);
  auto it = drives.find(letter);
  if (it != drives.end()) return it->second.medium;
  return Find(Key(root.substr(0, 3))) != nullptr;
}

}  // namespace testenv

namespace testenv {

port::ServiceQuery TestServices::QueryServiceState(const std::wstring& machine, const std::wstring& name) {
  queries.emplace_back(machine, name);
  port::ServiceQuery result;
  if (!machine.empty()) {
    result.error = port::kErrorRpcServerUnavailable;
    return result;
  }
  if (managerError != 0) {
    result.error = managerError;
    return result;
  }
  result.managerOpened = true;
  auto same = [&name](const std::pair<const std::wstring, Service>& entry) {
    if (entry.first.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      if (FoldUpper(entry.first[i]) != FoldUpper(name[i])) return false;
    }
    return true;
  };
  auto it = std::find_if(services.begin(), services.end(), same);
  if (it == services.end() || it->second.openError != 0) {
    result.error = it == services.end() ? port::kErrorServiceDoesNotExist : it->second.openError;
    return result;
  }
  result.serviceOpened = true;
  if (it->second.queryError != 0) {
    result.error = it->second.queryError;
    return result;
  }
  result.queried = true;
  result.state = it->second.state;
  return result;
}

}  // namespace testenv
