// The settings file's XML library, where its rules are easier to reach from inside than
// through the module: text escaping both ways. The fuzz target covers hostile input and the
// depth bound.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "settings/xml/xml_param.h"

namespace {

std::string written(const XmlParamDocument& document)
{
    std::ostringstream out;
    document.write(out);
    return out.str();
}

}  // namespace

// Every byte string survives the writer and the reader, the markup characters included.
TEST(XmlText, ValuesSurviveWriteAndLoad)
{
    const std::string values[] = {"*.<&>\"", "&amp;", "a < b > c", "\"quoted\"", "\xc3\xa9 \xe2\x82\xac", "&#65;", " "};
    for (const std::string& value : values) {
        XmlParamDocument document;
        document.params.setParam({"R", "G", "v"}, value);
        XmlParamDocument loaded;
        loaded.loadText(written(document));
        std::string out;
        EXPECT_TRUE(loaded.getParamString("R:G:v", out, "")) << value;
        EXPECT_EQ(value, out);
    }
}

// References are decoded where they are complete and known; any other '&' is text.
TEST(XmlText, ReferencesAreDecoded)
{
    const struct {
        const char *raw, *plain;
    } cases[] = {
        {"&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"*.&lt;x&gt;,a&amp;b", "*.<x>,a&b"},
        {"&#65;&#x42;&#xe9;&#x20AC;", "AB\xc3\xa9\xe2\x82\xac"},
        {"&amp;lt;", "&lt;"},
        {"& &amp &unknown; &#; &#x; &#xD800; &#1114112; &#12a;", "& &amp &unknown; &#; &#x; &#xD800; &#1114112; &#12a;"},
        {"a&b;c", "a&b;c"},
        {"&", "&"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.plain, unescapeXmlText(c.raw)) << c.raw;
}
