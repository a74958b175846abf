#include "package/xml_document.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "../common/xml_table.h"

namespace {

std::string ReadTable() {
  std::ifstream in(std::string(SETUPSTUB_TEST_DATA) + "/xml_documents.txt", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int Load(CVorqXMLReader& reader, const std::string& document) {
  return reader.Load(document.data(), static_cast<int32_t>(document.size()));
}

std::wstring Text(const wchar_t* text) { return text != nullptr ? std::wstring(text) : L"<null>"; }

}  // namespace

// Every row of the shared table, one after the other in the same reader (as the package loader
// reuses its readers), so that each load must also leave nothing of the row before it.
TEST(XmlDocumentTable, EveryRowGivesItsTreeAndLookups) {
  std::string error;
  const std::vector<xml_table::Row> rows = xml_table::Parse(ReadTable(), &error);
  ASSERT_EQ("", error);
  ASSERT_GT(rows.size(), 50u);
  CVorqXMLReader reader;
  for (const xml_table::Row& row : rows) {
    EXPECT_EQ("", xml_table::Check(row, reader)) << "table line " << row.line;
  }
}

TEST(XmlNode, CopiesNameAndAttributesAndFindsTheFirstAttributeOfExactlyThatName) {
  wchar_t name[] = L"item";
  wchar_t value[] = L"en";
  const wchar_t* attributes[] = {L"Lang", value, L"lang", L"ja", L"lang", L"zh", nullptr};
  CVorqXMLNode node(name, attributes, CVorqXMLNode::NODE_ELEMENT);
  name[0] = L'X';
  value[0] = L'X';

  EXPECT_EQ(CVorqXMLNode::NODE_ELEMENT, node.Kind());
  EXPECT_EQ(L"item", Text(node.GetName()));
  EXPECT_EQ(3, node.GetAttributeCount());
  EXPECT_EQ(L"en", Text(node.GetAttribute(L"Lang")));
  EXPECT_EQ(L"ja", Text(node.GetAttribute(L"lang")));
  EXPECT_EQ(nullptr, node.GetAttribute(L"LANG"));
  EXPECT_EQ(nullptr, node.GetAttribute(nullptr));
  EXPECT_EQ(L"zh", Text(node.GetAttributeValue(2)));
  EXPECT_EQ(nullptr, node.GetAttributeName(3));
  EXPECT_EQ(nullptr, node.GetText());
  EXPECT_EQ(nullptr, node.FirstChild());
  EXPECT_EQ(nullptr, node.NextSibling());
  EXPECT_EQ(nullptr, node.Parent());

  CVorqXMLNode nameless(nullptr, nullptr, CVorqXMLNode::NODE_ELEMENT);
  EXPECT_EQ(CVorqXMLNode::NODE_INVALID, nameless.Kind());
  EXPECT_EQ(nullptr, nameless.GetName());
  EXPECT_EQ(0, nameless.GetAttributeCount());
}

TEST(XmlNode, SetAttributesReplacesOnlyWithAListHoldingAPair) {
  const wchar_t* first[] = {L"a", L"1", L"b", L"2", nullptr};
  CVorqXMLNode node(L"n", first, CVorqXMLNode::NODE_ELEMENT);

  node.SetAttributes(nullptr);
  const wchar_t* empty[] = {nullptr};
  node.SetAttributes(empty);
  const wchar_t* nameOnly[] = {L"c", nullptr};
  node.SetAttributes(nameOnly);
  EXPECT_EQ(2, node.GetAttributeCount());
  EXPECT_EQ(L"2", Text(node.GetAttribute(L"b")));

  const wchar_t* second[] = {L"c", L"3", L"d", nullptr};
  node.SetAttributes(second);
  EXPECT_EQ(1, node.GetAttributeCount());
  EXPECT_EQ(L"3", Text(node.GetAttribute(L"c")));
  EXPECT_EQ(nullptr, node.GetAttribute(L"a"));
  EXPECT_EQ(nullptr, node.GetAttribute(L"d"));
}

TEST(XmlNode, SetTextCopiesTheFirstCountCharacters) {
  CVorqXMLNode node(L"#TEXT", nullptr, CVorqXMLNode::NODE_CHARDATA);
  wchar_t source[] = L"abcdef";
  node.SetText(source, 3);
  source[0] = L'X';
  EXPECT_EQ(L"abc", Text(node.GetText()));
  node.SetText(L"xyz", 0);
  ASSERT_NE(nullptr, node.GetText());
  EXPECT_EQ(L"", Text(node.GetText()));
  node.SetText(nullptr, 0);
  EXPECT_EQ(nullptr, node.GetText());
}

TEST(XmlNode, FindChildAndFindNextSiblingWalkTheListInListOrder) {
  CVorqXMLReader reader;
  ASSERT_EQ(XMLREAD_OK, Load(reader, "<r><a i=\"1\"/><b/><a i=\"2\"/><a i=\"3\"/></r>"));
  const CVorqXMLNode* r = reader.FindNode(nullptr, L"r");
  ASSERT_NE(nullptr, r);

  const CVorqXMLNode* a = r->FindChild(L"a");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(L"1", Text(a->GetAttribute(L"i")));
  a = a->FindNextSibling(L"a");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(L"3", Text(a->GetAttribute(L"i")));
  a = a->FindNextSibling(L"a");
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(L"2", Text(a->GetAttribute(L"i")));
  EXPECT_EQ(nullptr, a->FindNextSibling(L"a"));
  EXPECT_EQ(r->FindChild(L"b"), a->FindNextSibling(L"b"));

  const CVorqXMLNode* b = r->FindChild(L"b");
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(nullptr, b->FindNextSibling(L"a"));
  EXPECT_EQ(nullptr, r->FindChild(L"A"));
  EXPECT_EQ(nullptr, r->FindChild(nullptr));
  EXPECT_EQ(r, reader.Root()->FindChild(L"r"));
}

TEST(XmlReader, FreshResetAndClearedReadersFindNothingAndLoadAgain) {
  CVorqXMLReader reader;
  EXPECT_FALSE(reader.IsLoaded());
  ASSERT_NE(nullptr, reader.Root());
  EXPECT_EQ("#DOCROOT", xml_table::Render(reader.Root()));
  EXPECT_EQ(nullptr, reader.FindNode(nullptr, L"#DOCROOT"));

  ASSERT_EQ(XMLREAD_OK, Load(reader, "<a><b/></a>"));
  EXPECT_NE(nullptr, reader.FindNode(reader.FindNode(nullptr, L"a"), L"b"));

  CVorqXMLNode* root = reader.Reset();
  ASSERT_NE(nullptr, root);
  EXPECT_EQ(root, reader.Root());
  EXPECT_EQ("#DOCROOT", xml_table::Render(root));
  EXPECT_FALSE(reader.IsLoaded());
  EXPECT_EQ(nullptr, reader.FindNode(nullptr, L"a"));

  ASSERT_EQ(XMLREAD_OK, Load(reader, "<a/>"));
  reader.Clear();
  EXPECT_EQ(nullptr, reader.Root());
  EXPECT_FALSE(reader.IsLoaded());
  EXPECT_EQ(nullptr, reader.FindNode(nullptr, L"a"));

  ASSERT_EQ(XMLREAD_OK, Load(reader, "<c>x</c>"));
  EXPECT_EQ("#DOCROOT(c(#TEXT\"x\"))", xml_table::Render(reader.Root()));
}

TEST(XmlReader, RefusesMissingBytesAndNegativeLengths) {
  CVorqXMLReader reader;
  const char document[] = "<a/>";
  EXPECT_EQ(XMLREAD_PARSE_ERROR, reader.Load(nullptr, 4));
  EXPECT_EQ(XMLREAD_PARSE_ERROR, reader.Load(nullptr, 0));
  EXPECT_EQ(XMLREAD_PARSE_ERROR, reader.Load(document, -1));
  EXPECT_FALSE(reader.IsLoaded());
  EXPECT_EQ(XMLREAD_OK, reader.Load(document, static_cast<int32_t>(std::strlen(document))));
}

// Building and freeing the tree must not recurse per sibling or per level.
TEST(XmlReader, HoldsAndFreesLongSiblingChainsAndDeepNesting) {
  const int kSiblings = 200000;
  const int kDepth = 100000;
  {
    std::string document = "<r>";
    for (int i = 0; i < kSiblings; ++i) document += "<a/>";
    document += "</r>";
    CVorqXMLReader reader;
    ASSERT_EQ(XMLREAD_OK, Load(reader, document));
    int count = 0;
    for (const CVorqXMLNode* a = reader.FindNode(nullptr, L"r")->FirstChild(); a != nullptr; a = a->NextSibling()) ++count;
    EXPECT_EQ(kSiblings, count);
  }
  {
    std::string document;
    for (int i = 0; i < kDepth; ++i) document += "<a>";
    document += "x";
    for (int i = 0; i < kDepth; ++i) document += "</a>";
    CVorqXMLReader reader;
    ASSERT_EQ(XMLREAD_OK, Load(reader, document));
    int depth = 0;
    const CVorqXMLNode* node = reader.Root();
    while (node->FirstChild() != nullptr && node->FirstChild()->Kind() == CVorqXMLNode::NODE_ELEMENT) {
      node = node->FirstChild();
      ++depth;
    }
    EXPECT_EQ(kDepth, depth);
    ASSERT_NE(nullptr, node->FirstChild());
    EXPECT_EQ(L"x", Text(node->FirstChild()->GetText()));
    EXPECT_EQ(XMLREAD_OK, Load(reader, "<b/>"));  // the deep tree goes here
  }
}
