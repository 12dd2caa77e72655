#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "settings/xml/xml_param.h"
#include "settings/xml/xml_stream.h"

namespace {

bool parseInto(XML_Param_Notify& tree, const std::string& xml)
{
    XmlStream stream;
    stream.setSubscriber(tree);
    return stream.parse(xml.data(), static_cast<std::int32_t>(xml.size()));
}

// "name|attributes(entry|attributes=value,...)[children]", attributes only when present.
std::string describe(const ParamNode& node)
{
    const auto label = [](const std::string& name, const std::string& attributes) {
        return attributes.empty() ? name : name + "|" + attributes;
    };
    std::string text = label(node.name, node.attributes) + "(";
    for (const ParamEntry& entry : node.entries) {
        if (&entry != &node.entries.front())
            text += ",";
        text += label(entry.name, entry.attributes) + "=" + entry.value;
    }
    text += ")[";
    for (const ParamNode& child : node.children)
        text += describe(child);
    return text + "]";
}

std::vector<std::string> path(const char* key)
{
    std::vector<std::string> components{"stale"};
    splitParamPath(key, components);
    return components;
}

std::string written(const XmlParamDocument& document)
{
    std::ostringstream out;
    document.write(out);
    return out.str();
}

std::string repeat(const std::string& unit, std::size_t count)
{
    std::string text;
    while (count-- > 0)
        text += unit;
    return text;
}

std::string tempPath(const char* name)
{
    return ::testing::TempDir() + "ravelpak_xml_" + name;
}

std::string readBytes(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

}  // namespace

TEST(XmlScanner, ElementBounds)
{
    const struct {
        const char* xml;
        bool found;
        const char *name, *attributes, *value;
        std::int32_t position;  // where the search for the next element starts
    } cases[] = {
        {"<a>v</a>", true, "a", "", "v", 7},   {"<a >v</a> <b>", true, "a", "", "v", 10},
        {"<a/><b/>", true, "a", "", "", 4},    {"<a a=1>5</a>", true, "a", "a=1", "5", 11},
        {"<a a=1/>", true, "a", "a=1", "", 8}, {"<a\tb c>v</a\tb>", true, "a\tb", "c", "v", 13},
        {"< a>v</>", true, "", "", "v", 7},    {"<a><a x>v</a></a>", true, "a", "", "<a x>v", 13},  // only "<a>" nests
        {"<a><a></a>", false, "", "", "", 0},  {"<a>v</b>", false, "", "", "", 0},
        {"<a", false, "", "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        XmlElementScanner scanner;
        ASSERT_TRUE(scanner.setText(c.xml, static_cast<std::int32_t>(std::strlen(c.xml))));
        ASSERT_EQ(c.found, scanner.findNext());
        if (!c.found)
            continue;
        EXPECT_EQ(c.name, scanner.nameText());
        EXPECT_EQ(c.attributes, scanner.attributeText());
        EXPECT_EQ(c.value, scanner.valueText());
        EXPECT_EQ(c.position, scanner.position);
    }
}

TEST(XmlScanner, SearchesStayInsideTheirWindow)
{
    const std::int32_t toEnd = XmlElementScanner::kToEnd;
    const struct {
        const char* needle;
        std::int32_t from, count, expected;
    } cases[] = {
        {"ab", 0, 2, -1}, {"ab", 0, 3, 1},       {"ab", 2, 3, -1},      {"ab", 2, toEnd, 4},
        {"ab", 0, 99, 1}, {"ab", -1, 5, -1},     {"ab", 12, toEnd, -1}, {"ab", 0, -2, -1},
        {"<", 6, 1, 6},   {"<a<b", 0, toEnd, 8}, {"<a<b", 0, 11, -1},
    };
    const char text[] = "xabxab<a<a<b";
    XmlElementScanner scanner;
    ASSERT_TRUE(scanner.setText(text, 12));
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, scanner.find(c.needle, c.from, c.count))
            << c.needle << " from " << c.from << " count " << c.count;
    }
}

TEST(XmlTree, BuiltFromDocument)
{
    const struct {
        const char *xml, *tree;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<R>\n\t<G>\n\t\t<D>0</D>\n\t\t<C>1</C>\n\t</G>\n</R>\n", "R()[G(D=0,C=1)[]]"},
        {"<a><a><b>1</b></a></a>", "a()[a(b=1)[]]"},
        {"<n><x>1</x><a/><y>2</y><b></b></n>", "n(x=1,a=,y=2,b=)[]"},
        {"<n><!-- a>b --><v>1</v></n>", "n(v=1)[]"},
        {"<?xml v?><n><?xml x?><v>1</v></n><?xml?>", "n(v=1)[]"},
        {"<!DOCTYPE n><n><v>1</v></n>", "()[]"},
        // Unmatched markup ends its own level only.
        {"<r><n><v>1</v><open><w>2</w></n><x>3</x></r>", "r(x=3)[n(v=1)[]]"},
        {"<n><v>1</v></x><w>2</w></n>", "n(v=1)[]"},
        {"<n><v>1</v><?pi?><w>2</w></n><", "n(v=1)[]"},
        // A nested level that runs to the end of its range does not end this one.
        {"<r><n><a/></n><b>1</b><m><!--c--></m><c>2</c></r>", "r(b=1,c=2)[n(a=)[]m()[]]"},
        {"<n x=1><a y=2> 5 </a><b>&amp;&lt;</b></n>", "n|x=1(a|y=2= 5 ,b=&<)[]"},
        {"t<n>t<b>1</b>u</n>u", "n(b=1)[]"},
        {"<n><a\t>1</a\t><b\n>2</b></n>", "n(a\t=1)[]"},
        {"<n><><v>1</v></></n>", "n(v=1)[]"},  // a nameless node's content is still read
        {"<r><x>1</x><y>2</y><x>3</x></r>", "r(x=3,y=2)[]"},
        {"<r><n><v>1</v></n><n><v>2</v></n></r>", "r()[n(v=1)[]n(v=2)[]]"},
        {"<a><x>1</x></a><b><y>2</y><c><z>3</z></c></b>", "b(x=1,y=2)[c(z=3)[]]"},
        {"<v>1</v><r><w>2</w></r><u>3</u>", "r(w=2)[]"},
        {"no markup", "()[]"},
    };
    for (const auto& c : cases) {
        XML_Param_Notify tree;
        EXPECT_TRUE(parseInto(tree, c.xml));
        EXPECT_EQ(c.tree, describe(tree.getRoot())) << c.xml;
    }
    XML_Param_Notify tree;
    EXPECT_FALSE(parseInto(tree, ""));
}

// A hostile file must neither hang the host nor exhaust its stack.
TEST(XmlTree, HostileInputsFinish)
{
    const std::size_t n = 64 * 1024;
    const std::string name = repeat("a<", n / 8);  // end tags that overlap themselves
    const std::string inputs[] = {
        repeat("<a>", n / 3),
        repeat("<a>", n / 7) + repeat("</a>", n / 7),
        repeat("<a><b>", n / 6) + "</a>",
        repeat("<a></a>", n / 7) + repeat("<a/>", n / 8),
        "<" + name + ">" + name + "</" + name + ">",
        "<" + name + ">" + repeat("</" + name.substr(0, 40), n / 84),
    };
    for (const std::string& input : inputs) {
        XML_Param_Notify tree;
        EXPECT_TRUE(parseInto(tree, input));
    }
}

TEST(XmlTree, DepthIsBounded)
{
    // Node k holds the value k and then node k + 1.
    const int levels = XmlStream::kMaxDepth + 40;
    std::string xml;
    for (int k = 1; k <= levels; ++k)
        xml += "<n><v>" + std::to_string(k) + "</v>";
    XML_Param_Notify tree;
    parseInto(tree, xml + repeat("</n>", levels));
    std::vector<const ParamNode*> chain{&tree.getRoot()};
    while (!chain.back()->children.empty())
        chain.push_back(&chain.back()->children.front());
    ASSERT_EQ(static_cast<std::size_t>(XmlStream::kMaxDepth), chain.size());
    EXPECT_TRUE(chain.back()->entries.empty());
    EXPECT_EQ(std::to_string(XmlStream::kMaxDepth - 1), chain[chain.size() - 2]->entries[0].value);

    // Deep enough to exhaust the stack if every level recursed.
    XML_Param_Notify deep;
    parseInto(deep, "<r><v>1</v>" + repeat("<a>", 20000) + repeat("</a>", 20000) + "<w>2</w></r>");
    EXPECT_EQ("r(v=1,w=2)[a()[", describe(deep.getRoot()).substr(0, 15));
}

TEST(XmlLookup, IntegerReading)
{
    const struct {
        const char* value;
        bool found;
        std::int32_t out;
    } cases[] = {{"1", true, 1},
                 {" 1", true, 1},
                 {"1x", true, 1},
                 {"-1", true, -1},
                 {"x", false, 42},
                 {"", false, 42},
                 {"2147483647", true, 2147483647},
                 {"2147483648", false, 42},
                 {"-2147483649", false, 42}};
    for (const auto& c : cases) {
        XML_Param_Notify tree;
        parseInto(tree, std::string("<r><v>") + c.value + "</v></r>");
        std::int32_t out = 42;
        EXPECT_EQ(c.found, tree.getParam(path("r:v"), out)) << c.value;
        EXPECT_EQ(c.out, out) << c.value;
    }
}

TEST(XmlLookup, PathsPickFirstMatch)
{
    XML_Param_Notify tree;
    parseInto(tree, "<r><a>1</a><n><v>2</v></n><n><v>3</v><w>4</w></n></r>");
    const struct {
        const char *key, *value;  // null: not found
    } cases[] = {
        {"r:a", "1"}, {"r:n:v", "2"},   {"r:n:w", nullptr},   {"r:x", nullptr}, {"x:a", nullptr},
        {"a", "1"},   {"r:n", nullptr}, {"r:n:v:x", nullptr}, {"", nullptr},
    };
    for (const auto& c : cases) {
        std::string out = "unchanged";
        EXPECT_EQ(c.value != nullptr, tree.getParam(path(c.key), out)) << c.key;
        EXPECT_EQ(c.value != nullptr ? c.value : "unchanged", out) << c.key;
    }
}

TEST(ParamPath, Splitting)
{
    const struct {
        const char* key;
        std::vector<std::string> components;
    } cases[] = {{"A:B:C", {"A", "B", "C"}},
                 {"A::B", {"A", "", "B"}},
                 {"A:B:", {"A", "B"}},
                 {":A", {"", "A"}},
                 {"A", {"A"}},
                 {"", {}},
                 {nullptr, {}}};
    for (const auto& c : cases)
        EXPECT_EQ(c.components, path(c.key)) << (c.key ? c.key : "null");
}

TEST(XmlWriter, SetParamBuildsTree)
{
    const struct {
        const char* initial;
        std::vector<std::pair<const char*, const char*>> sets;
        const char* tree;
    } cases[] = {
        {"", {{"R:G:Check-CRC", "1"}, {"R:G:Check-CRC", "0"}}, "R()[G(Check-CRC=0)[]]"},
        {"", {{"R:G:a", "1"}, {"R:G:b", "2"}, {"R:G:a", "3"}}, "R()[G(a=3,b=2)[]]"},
        {"<R><x>1</x></R>", {{"R:A:B:k", "v"}}, "R(x=1)[A()[B(k=v)[]]]"},
        {"<X y=1><G><k>1</k></G></X>", {{"R:G:k", "2"}}, "R()[G(k=1)[]G(k=2)[]]"},
        {"<R><k a=1>0</k></R>", {{"k", "1"}, {"", "x"}}, "R(k=1)[]"},
    };
    for (const auto& c : cases) {
        XML_Param_Notify tree;
        parseInto(tree, c.initial);
        for (const auto& set : c.sets)
            EXPECT_TRUE(tree.setParam(path(set.first), set.second));
        EXPECT_EQ(c.tree, describe(tree.getRoot())) << c.initial;
    }
}

TEST(XmlDocument, SavesExactBytesAndLoadsThemBack)
{
    XmlParamDocument fresh;
    EXPECT_EQ(std::string(kHeader) + "<>\r\n</>\r\n", written(fresh));

    XmlParamDocument document;
    document.params.setParam(path("RavelpakSettings:General:DeleteTemp"), "0");
    document.params.setParam(path("RavelpakSettings:General:File-to-keep"), std::string("*.nfo,*.txt"));
    const std::string expected = std::string(kHeader) + "<RavelpakSettings>\r\n\t<General>\r\n"
                                                        "\t\t<DeleteTemp>0</DeleteTemp>\r\n"
                                                        "\t\t<File-to-keep>*.nfo,*.txt</File-to-keep>\r\n"
                                                        "\t</General>\r\n</RavelpakSettings>\r\n";
    EXPECT_EQ(expected, written(document));
    const std::string file = tempPath("exact.xml");
    document.save(file.c_str());
    EXPECT_EQ(expected, readBytes(file));

    // Loading replaces the whole tree; a file that cannot be opened or read leaves it as it was.
    XmlParamDocument loaded;
    loaded.params.setParam(path("Old:k"), "gone");
    loaded.load(file.c_str());
    loaded.load(tempPath("missing.xml").c_str());
    loaded.load(::testing::TempDir().c_str());
    std::string out;
    EXPECT_FALSE(loaded.getParamString("Old:k", out, "default"));
    EXPECT_EQ("default", out);
    EXPECT_EQ(expected, written(loaded));
    std::remove(file.c_str());

    // Entries before children, attributes dropped, values escaped.
    XmlParamDocument mixed;
    parseInto(mixed.params, "<r a=1><n><v>1</v></n><e x=2>3</e></r>");
    mixed.params.setParam(path("r:s"), " a<b&\"c\"> ");
    EXPECT_EQ(std::string(kHeader) + "<r>\r\n\t<e>3</e>\r\n\t<s> a&lt;b&amp;&quot;c&quot;&gt; </s>\r\n"
                                     "\t<n>\r\n\t\t<v>1</v>\r\n\t</n>\r\n</r>\r\n",
              written(mixed));
}

TEST(XmlDocument, CrLfReadsAsLf)
{
    const struct {
        const char *bytes, *key, *value;
    } cases[] = {
        {"<r>\r\n\t<g>\r\n\t\t<v>a\r\nb</v>\r\n\t</g>\r\n</r>\r\n", "r:g:v", "a\nb"},
        {"<r><g><v>a\rb\r\r\n</v></g></r>", "r:g:v", "a\rb\r\n"},
        {"<r\r\n><g><v>1</v></g></r\n>", "r\n:g:v", "1"},  // a kept CR would break the match
    };
    const std::string file = tempPath("crlf.xml");
    for (const auto& c : cases) {
        std::ofstream(file, std::ios::binary) << c.bytes;
        XmlParamDocument document;
        document.load(file.c_str());
        std::string out;
        EXPECT_TRUE(document.getParamString(c.key, out, "")) << c.bytes;
        EXPECT_EQ(c.value, out) << c.bytes;
    }
    std::remove(file.c_str());
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

// Every byte string survives the writer and the reader, the markup characters included.
TEST(XmlText, ValuesSurviveWriteAndLoad)
{
    const std::string values[] = {"*.<&>\"", "&amp;", "a < b > c", "\"quoted\"", "\xc3\xa9 \xe2\x82\xac", "&#65;", " "};
    for (const std::string& value : values) {
        XmlParamDocument document;
        document.params.setParam(path("R:G:v"), value);
        XmlParamDocument loaded;
        loaded.loadText(written(document));
        std::string out;
        EXPECT_TRUE(loaded.getParamString("R:G:v", out, "")) << value;
        EXPECT_EQ(value, out);
    }
}

TEST(XmlText, DeclaredEncoding)
{
    const struct {
        const char *bytes, *encoding;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>", "UTF-8"},
        {"<?xml version='1.0' encoding = 'ISO-8859-1' ?>", "ISO-8859-1"},
        {"<?xml version=\"1.0\"?><r encoding=\"x\"/>", ""},
        {"<r/><?xml version=\"1.0\" encoding=\"UTF-8\"?>", ""},
        {"<?xml encoding=\"UTF-8", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.encoding, declaredXmlEncoding(c.bytes)) << c.bytes;
}
