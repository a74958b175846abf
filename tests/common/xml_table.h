// Reader of tests/data/xml_documents.txt, the table of small XML documents and the trees the
// document reader makes of them. Both builds run it: the native unit tests, and xml_probe.exe,
// which runs every row through the Windows build's wide-character parser under Wine.
//
// The file's own header describes the rows; in short:
//   doc[ <form>]: <document>   form utf-8 (default), utf-16le, utf-16be or latin1
//   + <more document>          continues the line before it
//   tree: <children of the root> | fail | fail: <children of the root>
//   find: <path> => <node or null>
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/xml_document.h"
#include "utf8.h"

namespace xml_table {

struct Find {
  int line = 0;
  std::string path;
  std::string expected;
};

struct Row {
  int line = 0;
  std::string bytes;
  bool expectLoaded = true;
  bool compareTree = true;
  std::string tree;  // the children of the root, canonical
  std::vector<Find> finds;
};

// ---- canonical form of a tree

inline std::string Hex(uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = kDigits[value & 0xF];
  return out;
}

// Printable ASCII as it is; everything else escaped, one wchar_t at a time.
inline std::string Escape(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    const uint32_t c = static_cast<uint32_t>(*text);
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else if (c <= 0xFFFF) out += "\\u" + Hex(c, 4);
    else out += "\\U" + Hex(c, 8);
  }
  return out;
}

inline bool IsPseudoChardata(const wchar_t* name) {
  return name != nullptr && (std::wstring(name) == L"#TEXT" || std::wstring(name) == L"#CDATA");
}

// name[attr="value" ...]"text"(child child ...), with {kind=K} after a name whose kind does not
// fit it and {parent?} after a child whose parent link does not point back.
inline std::string Render(const CVorqXMLNode* node) {
  std::string out;
  const wchar_t* name = node->GetName();
  out += name != nullptr ? Escape(name) : "?";
  const int32_t expectedKind = IsPseudoChardata(name) ? CVorqXMLNode::NODE_CHARDATA : CVorqXMLNode::NODE_ELEMENT;
  if (node->Kind() != expectedKind) out += "{kind=" + std::to_string(node->Kind()) + "}";
  if (node->GetAttributeCount() > 0) {
    out += "[";
    for (int i = 0; i < node->GetAttributeCount(); ++i) {
      if (i > 0) out += " ";
      out += Escape(node->GetAttributeName(i)) + "=\"" + Escape(node->GetAttributeValue(i)) + "\"";
    }
    out += "]";
  }
  if (node->GetText() != nullptr) out += "\"" + Escape(node->GetText()) + "\"";
  if (node->FirstChild() != nullptr) {
    out += "(";
    for (const CVorqXMLNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
      if (child != node->FirstChild()) out += " ";
      out += Render(child);
      if (child->Parent() != node) out += "{parent?}";
    }
    out += ")";
  }
  return out;
}

// ---- reading the table

// Replaces every \{N*text} by N copies of text; other escapes stay as they are.
inline bool ExpandRepeats(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\' || i + 1 >= in.size()) {
      *out += in[i];
      continue;
    }
    if (in[i + 1] != '{') {
      *out += in.substr(i, 2);
      ++i;
      continue;
    }
    const size_t star = in.find('*', i + 2);
    const size_t close = in.find('}', i + 2);
    if (star == std::string::npos || close == std::string::npos || star > close) return false;
    const std::string count = in.substr(i + 2, star - i - 2);
    if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos) return false;
    const std::string unit = in.substr(star + 1, close - star - 1);
    for (long n = std::stol(count); n > 0; --n) *out += unit;
    i = close;
  }
  return true;
}


enum class Form { kUtf8, kUtf16Le, kUtf16Be, kLatin1 };

inline bool Encode(uint32_t cp, Form form, std::string* out) {
  switch (form) {
    case Form::kUtf8:
      if (cp < 0x80) {
        *out += static_cast<char>(cp);
      } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
      } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
      }
      return true;
    case Form::kLatin1:
      if (cp > 0xFF) return false;
      *out += static_cast<char>(cp);
      return true;
    case Form::kUtf16Le:
    case Form::kUtf16Be: {
      uint32_t units[2] = {cp, 0};
      int count = 1;
      if (cp >= 0x10000) {
        units[0] = 0xD800 + ((cp - 0x10000) >> 10);
        units[1] = 0xDC00 + ((cp - 0x10000) & 0x3FF);
        count = 2;
      }
      for (int i = 0; i < count; ++i) {
        const char lo = static_cast<char>(units[i] & 0xFF);
        const char hi = static_cast<char>(units[i] >> 8);
        if (form == Form::kUtf16Le) { *out += lo; *out += hi; }
        else { *out += hi; *out += lo; }
      }
      return true;
    }
  }
  return false;
}

// The document's bytes: characters in `form`, \xHH as raw bytes.
inline bool DocumentBytes(const std::string& source, Form form, std::string* bytes) {
  std::string expanded;
  if (!ExpandRepeats(source, &expanded)) return false;
  const std::vector<uint32_t> cps = DecodeUtf8(expanded);
  auto hexAt = [&cps](size_t at, size_t digits, uint32_t* value) {
    if (at + digits > cps.size()) return false;
    *value = 0;
    for (size_t k = 0; k < digits; ++k) {
      const uint32_t c = cps[at + k];
      uint32_t d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else return false;
      *value = (*value << 4) | d;
    }
    return true;
  };
  bytes->clear();
  for (size_t i = 0; i < cps.size(); ++i) {
    uint32_t cp = cps[i];
    if (cp == '\\' && i + 1 < cps.size()) {
      const uint32_t kind = cps[++i];
      uint32_t value = 0;
      if (kind == 'n') cp = '\n';
      else if (kind == 'r') cp = '\r';
      else if (kind == 't') cp = '\t';
      else if (kind == '\\') cp = '\\';
      else if (kind == 'u' && hexAt(i + 1, 4, &value)) { cp = value; i += 4; }
      else if (kind == 'U' && hexAt(i + 1, 8, &value)) { cp = value; i += 8; }
      else if (kind == 'x' && hexAt(i + 1, 2, &value)) {
        *bytes += static_cast<char>(value);
        i += 2;
        continue;
      } else {
        return false;
      }
    }
    if (!Encode(cp, form, bytes)) return false;
  }
  return true;
}

// Rows of the table; `error` names the first line that cannot be read (rows are then empty).
inline std::vector<Row> Parse(const std::string& fileText, std::string* error) {
  std::vector<Row> rows;
  std::vector<std::string> sources;  // document text of each row, before encoding
  std::vector<Form> forms;
  std::string* continued = nullptr;  // the field a "+ " line goes on with
  error->clear();
  size_t pos = 0;
  int lineNumber = 0;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(lineNumber) + ": " + why;
    rows.clear();
    return rows;
  };
  while (pos < fileText.size()) {
    size_t end = fileText.find('\n', pos);
    if (end == std::string::npos) end = fileText.size();
    std::string line = fileText.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') {
      continued = nullptr;
      continue;
    }
    if (line.compare(0, 3, "doc") == 0) {
      const size_t colon = line.find(": ");
      const size_t bare = line.find(':');
      if (bare == std::string::npos) return fail("doc line without ':'");
      const std::string formName = line.substr(3, bare - 3);
      Form form;
      if (formName.empty() || formName == " utf-8") form = Form::kUtf8;
      else if (formName == " utf-16le") form = Form::kUtf16Le;
      else if (formName == " utf-16be") form = Form::kUtf16Be;
      else if (formName == " latin1") form = Form::kLatin1;
      else return fail("unknown form '" + formName + "'");
      Row row;
      row.line = lineNumber;
      rows.push_back(row);
      forms.push_back(form);
      sources.push_back(colon == bare ? line.substr(colon + 2) : std::string());
      continued = &sources.back();
      continue;
    }
    if (rows.empty()) return fail("a row must begin with a doc line");
    Row& row = rows.back();
    if (line.compare(0, 2, "+ ") == 0) {
      if (continued == nullptr) return fail("'+' continues nothing");
      *continued += line.substr(2);
    } else if (line.compare(0, 6, "tree: ") == 0 || line == "tree:") {
      row.tree = line.size() > 6 ? line.substr(6) : std::string();
      continued = &row.tree;
    } else if (line == "fail") {
      row.expectLoaded = false;
      row.compareTree = false;
      continued = nullptr;
    } else if (line.compare(0, 6, "fail: ") == 0 || line == "fail:") {
      row.expectLoaded = false;
      row.tree = line.size() > 6 ? line.substr(6) : std::string();
      continued = &row.tree;
    } else if (line.compare(0, 6, "find: ") == 0) {
      const size_t arrow = line.find(" => ");
      if (arrow == std::string::npos) return fail("find line without ' => '");
      Find find;
      find.line = lineNumber;
      find.path = line.substr(6, arrow - 6);
      find.expected = line.substr(arrow + 4);
      row.finds.push_back(find);
      continued = &row.finds.back().expected;
    } else {
      return fail("cannot read '" + line + "'");
    }
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    lineNumber = rows[i].line;
    if (!DocumentBytes(sources[i], forms[i], &rows[i].bytes)) return fail("bad escape or character in the document");
    std::string expanded;
    if (!ExpandRepeats(rows[i].tree, &expanded)) return fail("bad repeat in the tree");
    rows[i].tree = expanded;
    for (Find& find : rows[i].finds) {
      if (!ExpandRepeats(find.expected, &expanded)) return fail("bad repeat in a find line");
      find.expected = expanded;
    }
  }
  return rows;
}

// ---- checking a row

// A rendering for messages: runs of eight or more equal characters written as \{N*c}, as in the
// table.
inline std::string Compact(const std::string& rendered) {
  auto tokenAt = [&rendered](size_t at) {
    size_t length = 1;
    if (rendered[at] == '\\' && at + 1 < rendered.size()) {
      length = rendered[at + 1] == 'u' ? 6 : rendered[at + 1] == 'U' ? 10 : 2;
    }
    return rendered.substr(at, length);
  };
  std::string out;
  for (size_t at = 0; at < rendered.size();) {
    const std::string token = tokenAt(at);
    size_t count = 1;
    while (at + count * token.size() < rendered.size() && tokenAt(at + count * token.size()) == token) ++count;
    if (count >= 8 && token != "}") {
      out += "\\{" + std::to_string(count) + "*" + token + "}";
    } else {
      for (size_t k = 0; k < count; ++k) out += token;
    }
    at += count * token.size();
  }
  return out;
}

// A path step's text, escapes resolved; paths hold basic-plane characters only.
inline std::wstring Widen(const std::string& text) {
  std::string utf8;
  if (!DocumentBytes(text, Form::kUtf8, &utf8)) utf8 = text;
  std::wstring out;
  for (uint32_t cp : DecodeUtf8(utf8)) out += static_cast<wchar_t>(cp);
  return out;
}

// Follows "a/b[n=v]/c[n]" from the root; "null" when a step finds nothing.
inline std::string Lookup(const CVorqXMLReader& reader, const std::string& path) {
  const CVorqXMLNode* node = nullptr;
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    const std::string step = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    std::wstring name = Widen(step);
    std::wstring attributeName;
    std::wstring attributeValue;
    bool withName = false;
    bool withValue = false;
    const size_t open = step.find('[');
    if (open != std::string::npos && step.back() == ']') {
      name = Widen(step.substr(0, open));
      const std::string filter = step.substr(open + 1, step.size() - open - 2);
      const size_t eq = filter.find('=');
      attributeName = Widen(filter.substr(0, eq));
      withName = true;
      if (eq != std::string::npos) {
        attributeValue = Widen(filter.substr(eq + 1));
        withValue = true;
      }
    }
    node = reader.FindNode(node, name.c_str(), withName ? attributeName.c_str() : nullptr,
                           withValue ? attributeValue.c_str() : nullptr);
    if (node == nullptr) return "null";
    if (slash == std::string::npos) return Render(node);
    start = slash + 1;
  }
}

// Loads the row's document into `reader` (which may hold an earlier row's tree) and compares.
// Empty when everything matches; otherwise every difference.
inline std::string Check(const Row& row, CVorqXMLReader& reader) {
  std::string problems;
  const int result = reader.Load(row.bytes.data(), static_cast<int32_t>(row.bytes.size()));
  const int expectedResult = row.expectLoaded ? XMLREAD_OK : XMLREAD_PARSE_ERROR;
  if (result != expectedResult) problems += " result=" + std::to_string(result);
  if (reader.IsLoaded() != row.expectLoaded) problems += std::string(" loaded=") + (reader.IsLoaded() ? "true" : "false");
  const CVorqXMLNode* root = reader.Root();
  if (root == nullptr) return problems + " no root";
  if (root->Parent() != nullptr) problems += " root has a parent";
  if (row.compareTree) {
    const std::string want = row.tree.empty() ? "#DOCROOT" : "#DOCROOT(" + row.tree + ")";
    const std::string got = Render(root);
    if (got != want) problems += " tree=" + Compact(got.size() > 9 && got.back() == ')' ? got.substr(9, got.size() - 10) : got);
  }
  // The document element is found by its name exactly when the document loaded.
  const CVorqXMLNode* element = root->FirstChild();
  if (element != nullptr && element->GetName() != nullptr) {
    const CVorqXMLNode* found = reader.FindNode(nullptr, element->GetName());
    if (found != (row.expectLoaded ? element : nullptr)) problems += " document element lookup wrong";
  } else if (row.expectLoaded) {
    problems += " no document element";
  }
  for (const Find& find : row.finds) {
    const std::string got = Lookup(reader, find.path);
    if (got != find.expected) problems += " find(" + find.path + ")=" + Compact(got);
  }
  return problems;
}

}  // namespace xml_table
