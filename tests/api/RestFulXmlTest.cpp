#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <memory>
#include <string>

#include "api/KestroAgiRESTFul.h"

namespace tarvik {
namespace {

struct DocumentFree {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using Document = std::unique_ptr<xmlDoc, DocumentFree>;

Document parse(const std::string& text) {
    return Document(xmlReadMemory(text.data(), static_cast<int>(text.size()), "request.xml", nullptr, 0));
}

bool loads(const std::string& text, KestroAgiRESTFul& request) {
    Document document = parse(text);
    EXPECT_NE(nullptr, document) << text;
    return document && request.loadFromXML(xmlDocGetRootElement(document.get()));
}

TEST(RestFulXmlTest, LoadsMethodUrlBodyHeadersAndParameters) {
    KestroAgiRESTFul request;
    ASSERT_TRUE(loads("<request method=\"PoSt\" url=\"http://127.0.0.1/x\">payload"
                      "<headers><header field=\"X-a\" value=\"1\"/><HEADER field=\"X-a\" value=\"2\"/></headers>"
                      "<parameters><parameter field=\"p\" value=\"q\"/></parameters></request>",
                      request));
    EXPECT_EQ(1, request.getMethod());
    EXPECT_STREQ("http://127.0.0.1/x", request.getUrl());
    EXPECT_STREQ("payload", request.getBody());
    EXPECT_EQ((KestroAgiRESTFul::TextMap{{"X-a", "1"}}), request.getHeaders());
    EXPECT_EQ((KestroAgiRESTFul::TextMap{{"p", "q"}}), request.getParameters());
    EXPECT_FALSE(request.toXML("/tmp/never-written.xml"));
    EXPECT_FALSE(request.loadFromXML(nullptr));

    KestroAgiRESTFul bare;
    EXPECT_TRUE(loads("<request/>", bare));
    EXPECT_EQ(0, bare.getMethod());
    EXPECT_EQ(nullptr, bare.getBody());
}

TEST(RestFulXmlTest, RefusesUnknownAttributesChildrenAndIncompletePairs) {
    const char* refused[] = {
        "<request verb=\"get\"/>",
        "<request><body/></request>",
        "<request><headers><param field=\"a\" value=\"b\"/></headers></request>",
        "<request><headers><header field=\"a\" value=\"b\" extra=\"c\"/></headers></request>",
        "<request><headers><header field=\"a\"/></headers></request>",
        "<request><headers><header field=\"\" value=\"b\"/></headers></request>",
        "<request><parameters><header field=\"a\" value=\"b\"/></parameters></request>",
        "<request><parameters><parameter Field=\"a\" value=\"b\"/></parameters></request>",
    };
    for (const char* text : refused) {
        KestroAgiRESTFul request;
        EXPECT_FALSE(loads(text, request)) << text;
    }
    // The pairs before the bad one stay.
    KestroAgiRESTFul partial;
    EXPECT_FALSE(loads("<r><headers><header field=\"a\" value=\"1\"/><header value=\"2\"/></headers></r>", partial));
    EXPECT_EQ(1u, partial.getHeaders().size());
}

}  // namespace
}  // namespace tarvik
