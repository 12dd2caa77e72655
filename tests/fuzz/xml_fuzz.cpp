// Fuzz target for the settings reader and writer: parses arbitrary bytes into
// a parameter tree, then reads, sets and writes every settings key, and checks
// that any value survives writing and loading.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "settings/xml/xml_param.h"
#include "settings/xml/xml_stream.h"

namespace {

const char* const kSettingNames[] = {"DeleteTemp", "KeepOverWritten", "Delete-src-during", "Keep-src-nosfv",
                                     "Check-CRC",  "Delete-sfv",      "File-to-keep"};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Passes events on to the tree and checks that they are well formed: every
// begin is ended with the same name and attributes, within the depth bound.
class CheckedTree : public XmlNotify {
public:
    explicit CheckedTree(XML_Param_Notify& target) : tree(target) {}
    void onNodeBegin(const std::string& name, const std::string& attributes) override
    {
        check(!name.empty());
        open.push_back(name + '\0' + attributes);
        check(open.size() <= static_cast<std::size_t>(XmlStream::kMaxDepth));
        tree.onNodeBegin(name, attributes);
    }
    void onValueElement(const std::string& name, const std::string& value, const std::string& attributes) override
    {
        check(!name.empty());
        check(value.find('<') == std::string::npos);
        tree.onValueElement(name, value, attributes);
    }
    void onNodeEnd(const std::string& name, const std::string& attributes) override
    {
        check(!open.empty() && open.back() == name + '\0' + attributes);
        open.pop_back();
        tree.onNodeEnd(name, attributes);
    }
    bool balanced() const { return open.empty(); }

private:
    XML_Param_Notify& tree;
    std::vector<std::string> open;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);

    XmlParamDocument document;
    CheckedTree checked(document.params);
    document.stream.setSubscriber(checked);
    const bool parsed = document.stream.parse(input.data(), static_cast<std::int32_t>(size));
    check(parsed == (size > 0));
    check(checked.balanced());
    check(!parsed || static_cast<const std::string&>(document.stream) == input);

    std::vector<std::string> path;
    for (int round = 0; round < 2; ++round) {
        for (const char* name : kSettingNames) {
            const std::string key = std::string("RavelpakSettings:General:") + name;
            splitParamPath(key.c_str(), path);
            std::int32_t flag = -7;
            const bool number = document.params.getParam(path, flag);
            check(number || flag == -7);
            std::string text;
            const bool found = document.getParamString(key.c_str(), text, "default");
            check(found || text == "default");
            check(!number || found);

            // Use the input itself as a value, so values hold any bytes.
            const std::string value = input.substr(0, 16) + name;
            document.params.setParam(path, value);
            // After the first round the whole path exists, so the value just
            // set is the one a lookup finds.
            if (round == 1) {
                check(document.getParamString(key.c_str(), text, ""));
                check(text == value);
            }
        }
    }

    std::ostringstream written;
    document.write(written);
    const std::string bytes = written.str();
    XmlStream reread;
    XML_Param_Notify tree;
    reread.setSubscriber(tree);
    reread.parse(bytes.data(), static_cast<std::int32_t>(bytes.size()));

    // Whatever bytes a value holds, a fresh settings document gives them back after writing
    // and loading, CR LF pairs aside (a file reads the same on every platform).
    const std::string value = input.substr(0, 256);
    if (value.find("\r\n") == std::string::npos) {
        XmlParamDocument fresh;
        splitParamPath("RavelpakSettings:General:File-to-keep", path);
        fresh.params.setParam(path, value);
        std::ostringstream freshText;
        fresh.write(freshText);
        XmlParamDocument loaded;
        loaded.loadText(freshText.str());
        std::string text;
        check(loaded.getParamString("RavelpakSettings:General:File-to-keep", text, ""));
        check(text == value);
    }
    return 0;
}
