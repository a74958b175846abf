#include "package/xml_document.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#ifdef XML_UNICODE
static_assert(sizeof(XML_Char) == sizeof(wchar_t), "the wide parser must deliver wchar_t text");
#endif

namespace {

const wchar_t kDocRootName[] = L"#DOCROOT";
const wchar_t kTextName[] = L"#TEXT";
const wchar_t kCdataName[] = L"#CDATA";

// The white space that makes a text piece count as layout: blank, tab, line feed, vertical tab,
// form feed and carriage return. Other spaces (no-break, ideographic) are text.
bool IsWhiteSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Selector values ("en", "JA", "/s", "3010") compare without regard to ASCII case.
bool EqualsNoCase(const wchar_t* a, const wchar_t* b) {
  for (;; ++a, ++b) {
    if (FoldAscii(*a) != FoldAscii(*b)) return false;
    if (*a == L'\0') return true;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CVorqXMLNode

CVorqXMLNode::CVorqXMLNode(const wchar_t* name, const wchar_t* const* attributes, int32_t nodeKind) {
  if (name != nullptr) {
    try {
      name_ = name;
      kind_ = nodeKind;
    } catch (const std::bad_alloc&) {
      name_.clear();  // stays NODE_INVALID: no lookup matches it
    }
  }
  SetAttributes(attributes);
}

CVorqXMLNode::~CVorqXMLNode() {
  // Frees everything this node owns without recursion, so that neither long sibling chains nor
  // deep nesting can exhaust the stack: the nodes still to free form one chain through
  // nextSibling_, and each freed node's children are spliced in front of the rest.
  CVorqXMLNode* pending = nextSibling_;
  nextSibling_ = nullptr;
  auto spliceChildren = [&pending](CVorqXMLNode* node) {
    CVorqXMLNode* children = node->firstChild_;
    if (children == nullptr) return;
    node->firstChild_ = nullptr;
    CVorqXMLNode* last = children;
    while (last->nextSibling_ != nullptr) last = last->nextSibling_;
    last->nextSibling_ = pending;
    pending = children;
  };
  spliceChildren(this);
  while (pending != nullptr) {
    CVorqXMLNode* node = pending;
    pending = node->nextSibling_;
    node->nextSibling_ = nullptr;
    spliceChildren(node);
    delete node;
  }
}

const wchar_t* CVorqXMLNode::GetAttribute(const wchar_t* name) const {
  if (name == nullptr) return nullptr;
  for (size_t i = 0; i + 1 < attributes_.size(); i += 2) {
    if (attributes_[i] == name) return attributes_[i + 1].c_str();
  }
  return nullptr;
}

const wchar_t* CVorqXMLNode::GetAttributeName(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return nullptr;
  return attributes_[static_cast<size_t>(index) * 2].c_str();
}

const wchar_t* CVorqXMLNode::GetAttributeValue(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return nullptr;
  return attributes_[static_cast<size_t>(index) * 2 + 1].c_str();
}

void CVorqXMLNode::SetAttributes(const wchar_t* const* attributes) {
  if (attributes == nullptr) return;
  size_t count = 0;
  while (attributes[count] != nullptr) ++count;
  const size_t pairs = count / 2;  // a trailing name without a value is not an attribute
  if (pairs == 0) return;
  try {
    std::vector<std::wstring> copy(attributes, attributes + pairs * 2);
    attributes_.swap(copy);
  } catch (const std::bad_alloc&) {
    attributes_.clear();
  }
}

void CVorqXMLNode::SetText(const wchar_t* text, size_t count) {
  text_.clear();
  hasText_ = false;
  if (text == nullptr) return;
  try {
    text_.assign(text, count);
    hasText_ = true;
  } catch (const std::bad_alloc&) {
    text_.clear();
  }
}

void CVorqXMLNode::AppendText(const wchar_t* piece, size_t count) {
  try {
    text_.append(piece, count);
    hasText_ = true;
  } catch (const std::bad_alloc&) {
    text_.clear();
    hasText_ = false;
  }
}

bool CVorqXMLNode::HasName(const wchar_t* name) const {
  return name != nullptr && kind_ != NODE_INVALID && name_ == name;
}

CVorqXMLNode* CVorqXMLNode::FindChild(const wchar_t* name) const {
  for (CVorqXMLNode* child = firstChild_; child != nullptr; child = child->nextSibling_) {
    if (child->HasName(name)) return child;
  }
  return nullptr;
}

CVorqXMLNode* CVorqXMLNode::FindNextSibling(const wchar_t* name) const {
  for (CVorqXMLNode* node = nextSibling_; node != nullptr; node = node->nextSibling_) {
    if (node->HasName(name)) return node;
  }
  return nullptr;
}

void CVorqXMLNode::LinkChild(CVorqXMLNode* child) {
  if (firstChild_ == nullptr) {
    firstChild_ = child;
    child->parent_ = this;
  } else {
    // Behind the first child, in front of the children linked before: a1, a4, a3, a2.
    child->nextSibling_ = firstChild_->nextSibling_;
    firstChild_->nextSibling_ = child;
    child->parent_ = firstChild_->parent_;
  }
}

// ---------------------------------------------------------------------------------------------
// Tree building. The handlers see the document as the wide parser reports it: element starts
// and ends, CDATA section starts and ends, and character data in pieces. A piece is a run of
// characters as the parser hands it over; a line end, and the replacement of each character or
// entity reference, arrive as pieces of their own.

struct XMLParseContext {
  explicit XMLParseContext(CVorqXMLNode* root) : current(root) {}

  CVorqXMLNode* current;            // receives new children
  bool captureText = true;          // character data outside CDATA may still become text
  bool inCdata = false;
  CVorqXMLNode* lastText = nullptr;  // the "#TEXT" node later pieces are appended to
  bool firstPiecePending = true;     // no piece taken since the last start tag
  // A "#TEXT" node made for an element that already had a first child: it never enters the tree
  // and is kept here only while it is lastText.
  std::unique_ptr<CVorqXMLNode> strayText;

  // False when a node cannot be had; the parse is then abandoned.
  bool StartElement(const wchar_t* name, const wchar_t* const* attributes) {
    captureText = true;
    firstPiecePending = true;
    CVorqXMLNode* node = new (std::nothrow) CVorqXMLNode(name, attributes, CVorqXMLNode::NODE_ELEMENT);
    if (node == nullptr) return false;
    current->LinkChild(node);
    current = node;
    return true;
  }

  void EndElement() {
    if (current->parent_ != nullptr) current = current->parent_;
  }

  bool StartCdata() {
    captureText = true;
    inCdata = true;
    CVorqXMLNode* node = new (std::nothrow) CVorqXMLNode(kCdataName, nullptr, CVorqXMLNode::NODE_CHARDATA);
    if (node == nullptr) return false;
    current->LinkChild(node);
    current = node;
    return true;
  }

  void EndCdata() {
    captureText = false;
    inCdata = false;
    if (current->parent_ != nullptr) current = current->parent_;
  }

  bool CharacterData(const wchar_t* piece, size_t length) {
    if (length == 0) return true;
    if (inCdata) {
      current->AppendText(piece, length);  // a CDATA section keeps every piece
      return true;
    }
    if (!captureText) return true;
    if (firstPiecePending) {
      if (IsWhiteSpace(piece[0])) {
        captureText = false;  // no text for this element until the next start tag
        return true;
      }
      CVorqXMLNode* node = new (std::nothrow) CVorqXMLNode(kTextName, nullptr, CVorqXMLNode::NODE_CHARDATA);
      if (node == nullptr) return false;
      node->SetText(piece, length);
      if (current->firstChild_ == nullptr) {
        current->firstChild_ = node;
        node->parent_ = current;
        strayText.reset();
      } else {
        strayText.reset(node);  // its text is lost with it
      }
      lastText = node;
      firstPiecePending = false;
      return true;
    }
    if (IsWhiteSpace(piece[0])) return true;
    if (lastText != nullptr) lastText->AppendText(piece, length);
    return true;
  }
};

namespace {

bool IsSurrogate(unsigned c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(unsigned c) { return c >= 0xD800 && c <= 0xDBFF; }

enum class DocumentForm { kEightBit, kUtf16Le, kUtf16Be };

// The parser's own detection for a document entity without an external encoding (a declaration
// can only name another encoding of the same width).
DocumentForm DetectForm(const unsigned char* bytes, size_t length) {
  if (length < 2) return DocumentForm::kEightBit;
  if (bytes[0] == 0xFE && bytes[1] == 0xFF) return DocumentForm::kUtf16Be;
  if (bytes[0] == 0xFF && bytes[1] == 0xFE) return DocumentForm::kUtf16Le;
  if (bytes[0] == 0) return DocumentForm::kUtf16Be;
  if (bytes[1] == 0) return DocumentForm::kUtf16Le;
  return DocumentForm::kEightBit;
}

// The parser takes whatever unit follows a high surrogate in a UTF-16 document as its low half
// (swallowing a "<" after a lone one), and the two builds would read such a pair differently.
// A document with a surrogate that is not half of a pair is not well-formed: it is refused.
bool HasUnpairedSurrogate(const unsigned char* bytes, size_t length, DocumentForm form) {
  if (form == DocumentForm::kEightBit) return false;
  auto unitAt = [&](size_t at) -> unsigned {
    return form == DocumentForm::kUtf16Le ? bytes[at] | (bytes[at + 1] << 8) : (bytes[at] << 8) | bytes[at + 1];
  };
  for (size_t at = 0; at + 1 < length; at += 2) {
    const unsigned unit = unitAt(at);
    if (!IsSurrogate(unit)) continue;
    if (!IsHighSurrogate(unit) || at + 3 >= length) return true;
    const unsigned next = unitAt(at + 2);
    if (!IsSurrogate(next) || IsHighSurrogate(next)) return true;
    at += 2;
  }
  return false;
}

#ifndef XML_UNICODE

// The native parser reports UTF-8 and cuts character data differently from the wide one. The
// wide parser hands a run of character data over in place when the document is UTF-16LE (the
// machine's own order), and otherwise converts it through a buffer of 1024 UTF-16 units:
//  - UTF-8, ISO-8859-1 and US-ASCII documents: pieces of at most 1024 units; a piece that would
//    end between the halves of a surrogate pair ends one unit early;
//  - UTF-16BE documents: pieces of exactly 1024 units, even between the halves of a pair; but
//    while more than 1024 units are left of a run that ends with a surrogate, the run's last unit
//    is not counted as available, so that when exactly 1025 units are left the last one is lost;
//  - UTF-16LE documents: the run in one piece.
// Since the rules above drop pieces that begin with white space, where the cuts fall shows in the
// tree. The native build therefore joins the UTF-8 pieces of one run again (pieces of one run
// follow each other in the document without a gap) and cuts the run as the wide parser does.
// Line ends, references and text from entities are pieces of their own in both parsers.

constexpr size_t kWidePieceUnits = 1024;

// Appends UTF-8 text (as the parser checked it) as UTF-16 code units.
void AppendUtf16(const char* text, size_t length, std::wstring* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + length;
  while (p < end) {
    uint32_t cp = *p;
    size_t extra = 0;
    if (cp >= 0xF0) {
      cp &= 0x07;
      extra = 3;
    } else if (cp >= 0xE0) {
      cp &= 0x0F;
      extra = 2;
    } else if (cp >= 0xC0) {
      cp &= 0x1F;
      extra = 1;
    } else if (cp >= 0x80) {
      extra = static_cast<size_t>(-1);  // a stray continuation byte
    }
    if (extra == static_cast<size_t>(-1) || static_cast<size_t>(end - p) <= extra) {
      out->push_back(L'\xFFFD');
      ++p;
      continue;
    }
    for (size_t k = 1; k <= extra; ++k) cp = (cp << 6) | (p[k] & 0x3F);
    p += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<wchar_t>(cp));
    }
  }
}

std::wstring ToWide(const XML_Char* text) {
  std::wstring out;
  AppendUtf16(text, std::strlen(text), &out);
  return out;
}

#endif  // !XML_UNICODE

// What the parser's handlers work on for the length of one parse.
struct ParseSession {
  explicit ParseSession(CVorqXMLNode* root) : context(root) {}

  XMLParseContext context;
  XML_Parser parser = nullptr;
  bool abandoned = false;  // a node or a copy could not be had

  void Abandon() {
    if (abandoned) return;
    abandoned = true;
    XML_StopParser(parser, XML_FALSE);
  }

#ifndef XML_UNICODE
  const unsigned char* bytes = nullptr;
  size_t length = 0;
  DocumentForm form = DocumentForm::kEightBit;

  // The run of character data being joined again.
  bool runOpen = false;
  int64_t runLastStart = 0;  // the input span of the run's latest piece
  int64_t runLastEnd = 0;
  std::wstring run;

  // The first character of the input at byte `index`.
  unsigned InputUnitAt(int64_t index) const {
    const size_t at = static_cast<size_t>(index);
    if (form == DocumentForm::kEightBit) return bytes[at];
    if (at + 1 >= length) return 0;
    return form == DocumentForm::kUtf16Le ? bytes[at] | (bytes[at + 1] << 8) : (bytes[at] << 8) | bytes[at + 1];
  }

  void Deliver(const wchar_t* piece, size_t count) {
    if (!abandoned && !context.CharacterData(piece, count)) Abandon();
  }

  // Hands the joined run over in the wide parser's pieces.
  void FlushRun() {
    if (!runOpen) return;
    runOpen = false;
    const wchar_t* text = run.data();
    const size_t total = run.size();
    size_t pos = 0;
    if (form == DocumentForm::kUtf16Le) {
      Deliver(text, total);
    } else if (form == DocumentForm::kUtf16Be) {
      while (pos < total) {
        const size_t left = total - pos;
        const size_t limit = left > kWidePieceUnits && IsSurrogate(text[total - 1]) ? left - 1 : left;
        const size_t take = std::min(kWidePieceUnits, limit);
        Deliver(text + pos, take);
        pos += take;
        if (take == limit) break;
      }
    } else {
      while (pos < total) {
        size_t take = 0;
        while (pos + take < total) {
          const size_t width = IsHighSurrogate(text[pos + take]) && pos + take + 1 < total ? 2 : 1;
          if (take + width > kWidePieceUnits) break;
          take += width;
        }
        Deliver(text + pos, take);
        pos += take;
      }
    }
    run.clear();
  }

  void CharacterData(const XML_Char* piece, int count) {
    const int64_t start = XML_GetCurrentByteIndex(parser);
    const int64_t span = XML_GetCurrentByteCount(parser);
    // A piece from the document's own text (not a line end, a reference or an entity's text,
    // whose spans begin with a line end or "&").
    bool plain = start >= 0 && span > 0 && static_cast<uint64_t>(start + span) <= length;
    if (plain) {
      const unsigned first = InputUnitAt(start);
      plain = first != '&' && first != '\r' && first != '\n';
    }
    // Inside a CDATA section the parser reports each later piece of a run as reaching to the
    // run's end; in content the pieces follow each other.
    const bool continues = plain && runOpen &&
                           (context.inCdata ? start > runLastStart && start + span == runLastEnd
                                            : start == runLastEnd);
    if (!continues) FlushRun();
    if (plain) {
      AppendUtf16(piece, static_cast<size_t>(count), &run);
      runOpen = true;
      runLastStart = start;
      runLastEnd = start + span;
    } else {
      std::wstring wide;
      AppendUtf16(piece, static_cast<size_t>(count), &wide);
      Deliver(wide.data(), wide.size());
    }
  }
#else
  void FlushRun() {}
#endif
};

void XMLCALL OnStartElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
  ParseSession* session = static_cast<ParseSession*>(userData);
  if (session->abandoned) return;
  try {
    session->FlushRun();
#ifdef XML_UNICODE
    const bool ok = session->context.StartElement(name, attributes);
#else
    std::vector<std::wstring> strings;
    for (const XML_Char** a = attributes; a != nullptr && *a != nullptr; ++a) strings.push_back(ToWide(*a));
    std::vector<const wchar_t*> list;
    for (const std::wstring& s : strings) list.push_back(s.c_str());
    list.push_back(nullptr);
    const bool ok = session->context.StartElement(ToWide(name).c_str(), list.data());
#endif
    if (!ok) session->Abandon();
  } catch (...) {
    session->Abandon();
  }
}

void XMLCALL OnEndElement(void* userData, const XML_Char*) {
  ParseSession* session = static_cast<ParseSession*>(userData);
  if (session->abandoned) return;
  try {
    session->FlushRun();
    session->context.EndElement();
  } catch (...) {
    session->Abandon();
  }
}

void XMLCALL OnStartCdata(void* userData) {
  ParseSession* session = static_cast<ParseSession*>(userData);
  if (session->abandoned) return;
  try {
    session->FlushRun();
    if (!session->context.StartCdata()) session->Abandon();
  } catch (...) {
    session->Abandon();
  }
}

void XMLCALL OnEndCdata(void* userData) {
  ParseSession* session = static_cast<ParseSession*>(userData);
  if (session->abandoned) return;
  try {
    session->FlushRun();
    session->context.EndCdata();
  } catch (...) {
    session->Abandon();
  }
}

void XMLCALL OnCharacterData(void* userData, const XML_Char* piece, int length) {
  ParseSession* session = static_cast<ParseSession*>(userData);
  if (session->abandoned || length <= 0) return;
  try {
#ifdef XML_UNICODE
    if (!session->context.CharacterData(piece, static_cast<size_t>(length))) session->Abandon();
#else
    session->CharacterData(piece, length);
#endif
  } catch (...) {
    session->Abandon();
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CVorqXMLReader

CVorqXMLReader::CVorqXMLReader() { Reset(); }

CVorqXMLReader::~CVorqXMLReader() { Clear(); }

CVorqXMLNode* CVorqXMLReader::Reset() {
  if (loaded_ || root_ != nullptr) Clear();
  root_ = new (std::nothrow) CVorqXMLNode(kDocRootName, nullptr, CVorqXMLNode::NODE_ELEMENT);
  return root_;
}

void CVorqXMLReader::Clear() {
  delete root_;
  root_ = nullptr;
  loaded_ = false;
}

int CVorqXMLReader::Load(const void* bytes, int32_t length) {
  if (Reset() == nullptr) return XMLREAD_PARSE_ERROR;
  if (!Parse(bytes, length)) return XMLREAD_PARSE_ERROR;
  loaded_ = true;
  return XMLREAD_OK;
}

bool CVorqXMLReader::Parse(const void* bytes, int32_t length) {
  if (length < 0 || (bytes == nullptr && length != 0)) return false;
  const unsigned char* data = static_cast<const unsigned char*>(bytes);
  const DocumentForm form = DetectForm(data, static_cast<size_t>(length));
  if (HasUnpairedSurrogate(data, static_cast<size_t>(length), form)) return false;
  // No encoding is imposed: the byte-order mark or the XML declaration decides, UTF-8 by default.
  // Only the parser's built-in encodings are known. Its protection against entities that expand
  // out of all proportion stays at its defaults.
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) return false;
  ParseSession session(root_);
  session.parser = parser;
#ifndef XML_UNICODE
  session.bytes = data;
  session.length = static_cast<size_t>(length);
  session.form = form;
#endif
  XML_SetUserData(parser, &session);
  XML_SetElementHandler(parser, OnStartElement, OnEndElement);
  XML_SetCharacterDataHandler(parser, OnCharacterData);
  XML_SetCdataSectionHandler(parser, OnStartCdata, OnEndCdata);
  const bool parsed = XML_Parse(parser, static_cast<const char*>(bytes), length, 1) == XML_STATUS_OK;
  if (!session.abandoned) {
    // The last run belongs to the tree, complete or not.
    try {
      session.FlushRun();
    } catch (...) {
      session.abandoned = true;
    }
  }
  XML_ParserFree(parser);
  return parsed && !session.abandoned;
}

CVorqXMLNode* CVorqXMLReader::FindNode(const CVorqXMLNode* parent, const wchar_t* name, const wchar_t* attributeName,
                                       const wchar_t* attributeValue) const {
  if (!loaded_) return nullptr;
  const CVorqXMLNode* from = parent != nullptr ? parent : root_;
  if (from == nullptr || name == nullptr) return nullptr;
  for (CVorqXMLNode* child = from->firstChild_; child != nullptr; child = child->nextSibling_) {
    if (!child->HasName(name)) continue;
    if (attributeName == nullptr || attributeValue == nullptr) return child;
    const wchar_t* value = child->GetAttribute(attributeName);
    if (value == nullptr) return nullptr;  // the first child of that name without the attribute ends the search
    if (EqualsNoCase(value, attributeValue)) return child;
  }
  return nullptr;
}
