#include "util/XmlTools.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <memory>
#include <string>

#include "util/CText.h"

namespace tarvik::testing {
namespace {

struct DocumentDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};

std::unique_ptr<xmlDoc, DocumentDeleter> parse(const std::string& text) {
    return std::unique_ptr<xmlDoc, DocumentDeleter>(
        xmlReadMemory(text.data(), static_cast<int>(text.size()), "test.xml", nullptr, 0));
}

TEST(XmlTools, FindsElementsAndReadsContent) {
    auto document = parse("<root>text<!-- c --><first>a<b>b</b>c</first><blank>  \n </blank><empty/></root>");
    ASSERT_TRUE(document);
    xmlNode* root = xmlDocGetRootElement(document.get());
    xmlNode* text = root->children;
    ASSERT_EQ(text->type, XML_TEXT_NODE);

    // A text node followed by a comment and an element gives the element.
    xmlNode* first = XmlTools::getElementNode(text);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(first->name), "first");
    EXPECT_EQ(XmlTools::getElementNode(first), first);
    EXPECT_EQ(XmlTools::getElementNode(nullptr), nullptr);
    xmlNode* blank = XmlTools::getElementNode(first->next);
    xmlNode* empty = XmlTools::getElementNode(blank->next);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(XmlTools::getElementNode(empty->next), nullptr);

    // Content is all descendant text; white space is content, nothing is not.
    EXPECT_STREQ(CText(XmlTools::getElementContent(first)).get(), "abc");
    EXPECT_STREQ(CText(XmlTools::getElementContent(blank)).get(), "  \n ");
    EXPECT_EQ(CText(XmlTools::getElementContent(empty)), nullptr);
    EXPECT_EQ(CText(XmlTools::getElementContent(nullptr)), nullptr);

    EXPECT_NE(XmlTools::getInstance(), nullptr);
    EXPECT_EQ(XmlTools::getInstance(), XmlTools::getInstance());
}

}  // namespace
}  // namespace tarvik::testing
