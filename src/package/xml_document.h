// The document model under the package description: one XML document, parsed whole from the
// bytes stored in the archive, as a tree of nodes that answers lookups by element name and,
// optionally, by an attribute's value.
//
// The tree keeps the rules the package queries are written against:
//  - only an element's leading text survives, and text pieces that begin with white space are
//    dropped (see XMLParseContext in the .cpp for the exact rules);
//  - a CDATA section becomes a "#CDATA" child holding its content whole;
//  - a node's children are not in document order: the first child stays first and every later
//    one is linked in directly behind it, so children a1, a2, a3, a4 are listed a1, a4, a3, a2.
//
// Text is wide and holds UTF-16 code units in every build: a character outside the basic plane
// is a surrogate pair of two wchar_t, also where wchar_t could hold it whole. A text piece is a
// run of characters as the Windows (wide-character) parser hands it over; the native build cuts
// its pieces the same way, so both builds make the same trees of the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct XMLParseContext;
class CVorqXMLReader;

// Results of CVorqXMLReader::Load.
enum : int {
  XMLREAD_OK = 0,
  XMLREAD_PARSE_ERROR = 5,
};

class CVorqXMLNode {
 public:
  // Kinds. Scoped to the class: the Windows DOM headers declare enumerators of the same names
  // at global scope.
  enum : int32_t {
    NODE_INVALID = -1,  // the name could not be copied
    NODE_ELEMENT = 0,   // an element, and the document root "#DOCROOT"
    NODE_CHARDATA = 1,  // "#TEXT" and "#CDATA"
  };

  // Copies the name and every string of `attributes` (null-terminated, name and value
  // alternating; may be null). The node has no text and no links.
  CVorqXMLNode(const wchar_t* name, const wchar_t* const* attributes, int32_t nodeKind);
  // Destroys the whole subtree and the whole chain of siblings that follow this node.
  virtual ~CVorqXMLNode();
  CVorqXMLNode(const CVorqXMLNode&) = delete;
  CVorqXMLNode& operator=(const CVorqXMLNode&) = delete;

  int32_t Kind() const { return kind_; }
  // The element name as written (a namespace prefix stays part of it) or "#DOCROOT", "#TEXT",
  // "#CDATA"; null only for a node of kind NODE_INVALID.
  const wchar_t* GetName() const { return kind_ == NODE_INVALID ? nullptr : name_.c_str(); }
  // The links of the tree: the head of this node's child list, the rest of its parent's list,
  // and the node whose list holds this one (null for the root).
  CVorqXMLNode* FirstChild() const { return firstChild_; }
  CVorqXMLNode* NextSibling() const { return nextSibling_; }
  CVorqXMLNode* Parent() const { return parent_; }

  // The value of the first attribute named exactly `name`, or null.
  const wchar_t* GetAttribute(const wchar_t* name) const;
  // Name/value pairs, 0 when none.
  int GetAttributeCount() const { return static_cast<int>(attributes_.size() / 2); }
  // The pair at `index` (0 <= index < GetAttributeCount()), in the order the parser reported it;
  // null outside that range.
  const wchar_t* GetAttributeName(int index) const;
  const wchar_t* GetAttributeValue(int index) const;
  // Replaces the attributes by copies of `attributes`; a null or empty list changes nothing.
  void SetAttributes(const wchar_t* const* attributes);

  // Null when the node has no text (elements never have any).
  const wchar_t* GetText() const { return hasText_ ? text_.c_str() : nullptr; }
  // Replaces the text by the first `count` characters of `text`; a null `text` removes it.
  void SetText(const wchar_t* text, size_t count);

  // The first node of this node's child list, resp. of the rest of its parent's list after this
  // node, named exactly `name`; null when none.
  CVorqXMLNode* FindChild(const wchar_t* name) const;
  CVorqXMLNode* FindNextSibling(const wchar_t* name) const;

 private:
  friend struct XMLParseContext;
  friend class CVorqXMLReader;

  bool HasName(const wchar_t* name) const;
  void AppendText(const wchar_t* piece, size_t count);
  // Links `child` into this node's child list by the list rule above.
  void LinkChild(CVorqXMLNode* child);

  int32_t kind_ = NODE_INVALID;
  std::wstring name_;
  std::vector<std::wstring> attributes_;  // name, value, name, value, ...
  std::wstring text_;
  bool hasText_ = false;
  CVorqXMLNode* nextSibling_ = nullptr;  // owned
  CVorqXMLNode* firstChild_ = nullptr;   // owned
  CVorqXMLNode* parent_ = nullptr;
};

class CVorqXMLReader {
 public:
  // A fresh reader: a root without children, not loaded.
  CVorqXMLReader();
  virtual ~CVorqXMLReader();
  CVorqXMLReader(const CVorqXMLReader&) = delete;
  CVorqXMLReader& operator=(const CVorqXMLReader&) = delete;

  // Parses `length` bytes (not terminated) as one whole document, in the encoding its byte-order
  // mark or XML declaration names (UTF-8 by default; UTF-16, ISO-8859-1 and US-ASCII are known).
  // XMLREAD_OK when the whole document parsed; XMLREAD_PARSE_ERROR for a document that is empty,
  // not well-formed (UTF-16 with a surrogate that is not half of a pair counts as such), cut
  // short, in an unknown encoding or refused by the parser (such as one whose entities expand
  // out of all proportion). After a failure the reader is not loaded, but the part of the tree
  // built before the parser stopped stays under the root.
  int Load(const void* bytes, int32_t length);
  bool IsLoaded() const { return loaded_; }

  // The first child of `parent` (of the root when null) in list order named exactly `name`; when
  // both `attributeName` and `attributeValue` are given, the child must also carry that attribute
  // with that value compared without regard to ASCII case, and the first child of that name that
  // lacks the attribute ends the search with null. Null whenever the reader is not loaded.
  CVorqXMLNode* FindNode(const CVorqXMLNode* parent, const wchar_t* name, const wchar_t* attributeName = nullptr,
                         const wchar_t* attributeValue = nullptr) const;

  // Drops any tree and starts a new root "#DOCROOT"; returns it (null when it cannot be had).
  CVorqXMLNode* Reset();
  // Drops the tree, root included; the reader is not loaded.
  void Clear();

  // The "#DOCROOT" node (the document element is its child), or null after Clear.
  CVorqXMLNode* Root() const { return root_; }

 private:
  bool Parse(const void* bytes, int32_t length);

  CVorqXMLNode* root_ = nullptr;  // owned
  bool loaded_ = false;
};
