#include "settings/xml/xml_param.h"

#include <algorithm>
#include <locale>
#include <ostream>
#include <sstream>
#include <utility>

#include "base/utf8.h"

namespace {

const char kLineEnd[] = "\r\n";
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// The code point of a numeric reference body ("#65", "#x41"); false for anything else,
// including surrogates and numbers past the last code point.
bool numericReference(const std::string& body, unsigned long& codePoint)
{
    if (body.size() < 2 || body[0] != '#')
        return false;
    const bool hex = body[1] == 'x';
    const std::size_t first = hex ? 2 : 1;
    if (first >= body.size() || body.size() - first > 8)
        return false;
    codePoint = 0;
    for (std::size_t i = first; i < body.size(); ++i) {
        const char c = body[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        codePoint = codePoint * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
    }
    return codePoint > 0 && codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

// Entries keep their place when set again, so a rewritten file keeps its order.
void putEntry(ParamNode& node, const std::string& name, const std::string& value, const std::string& attributes)
{
    for (ParamEntry& entry : node.entries) {
        if (entry.name == name) {
            entry.value = value;
            entry.attributes = attributes;
            return;
        }
    }
    node.entries.push_back(ParamEntry{name, value, attributes});
}

// Works on const and mutable child lists alike.
template <typename Nodes>
auto firstChildNamed(Nodes& candidates, const std::string& name) -> decltype(&candidates.front())
{
    for (auto& candidate : candidates) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}

void writeNode(std::ostream& out, const ParamNode& node, std::size_t depth)
{
    const std::string indent(depth, '\t');
    out << indent << '<' << node.name << '>' << kLineEnd;
    for (const ParamEntry& entry : node.entries) {
        out << indent << '\t' << '<' << entry.name << '>' << escapeXmlText(entry.value) << "</" << entry.name << '>'
            << kLineEnd;
    }
    for (const ParamNode& child : node.children)
        writeNode(out, child, depth + 1);
    out << indent << "</" << node.name << '>' << kLineEnd;
}

}  // namespace

void splitParamPath(const char* key, std::vector<std::string>& components)
{
    components.clear();
    if (key == nullptr)
        return;
    std::string piece;
    for (const char* c = key; *c != '\0'; ++c) {
        if (*c == ':') {
            components.push_back(std::move(piece));
            piece.clear();
        } else {
            piece += *c;
        }
    }
    if (!piece.empty())
        components.push_back(std::move(piece));
}

std::string escapeXmlText(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string unescapeXmlText(const std::string& text)
{
    static const struct {
        const char* body;
        char character;
    } named[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::string plain;
    plain.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t semicolon = text[i] == '&' ? text.find(';', i + 1) : std::string::npos;
        // The longest reference is "&#x10FFFF;"; a far semicolon belongs to other text.
        if (semicolon == std::string::npos || semicolon - i > 10) {
            plain += text[i++];
            continue;
        }
        const std::string body = text.substr(i + 1, semicolon - i - 1);
        bool known = false;
        for (const auto& entity : named) {
            if (body == entity.body) {
                plain += entity.character;
                known = true;
            }
        }
        unsigned long codePoint = 0;
        if (!known && numericReference(body, codePoint)) {
            AppendUtf8(plain, codePoint);
            known = true;
        }
        if (known)
            i = semicolon + 1;
        else
            plain += text[i++];
    }
    return plain;
}

std::string declaredXmlEncoding(const std::string& bytes)
{
    if (bytes.compare(0, 5, "<?xml") != 0)
        return std::string();
    const std::size_t end = bytes.find("?>");
    const std::string declaration = bytes.substr(0, end);
    const std::size_t name = declaration.find("encoding");
    if (name == std::string::npos)
        return std::string();
    std::size_t at = declaration.find_first_not_of(" \t\r\n=", name + 8);
    if (at == std::string::npos || (declaration[at] != '"' && declaration[at] != '\''))
        return std::string();
    const std::size_t close = declaration.find(declaration[at], at + 1);
    if (close == std::string::npos)
        return std::string();
    return declaration.substr(at + 1, close - at - 1);
}

void XML_Param_Notify::onNodeBegin(const std::string& name, const std::string& attributes)
{
    if (current == nullptr) {
        root.name = name;
        root.attributes = attributes;
        current = &root;
        return;
    }
    // Only closed siblings move when the array grows; the open chain stays put.
    ParamNode child;
    child.name = name;
    child.attributes = attributes;
    child.parent = current;
    current->children.push_back(std::move(child));
    current = &current->children.back();
}

void XML_Param_Notify::onValueElement(const std::string& name, const std::string& value, const std::string& attributes)
{
    if (current != nullptr)
        putEntry(*current, name, unescapeXmlText(value), attributes);
}

void XML_Param_Notify::onNodeEnd(const std::string&, const std::string&)
{
    if (current != nullptr)
        current = current->parent;
}

void XML_Param_Notify::clear()
{
    root.name.clear();
    root.attributes.clear();
    root.entries.clear();
    root.children.clear();
}

const ParamEntry* XML_Param_Notify::findEntry(const std::vector<std::string>& path) const
{
    if (path.empty())
        return nullptr;
    const std::size_t nodeCount = path.size() - 1;
    if (nodeCount > 0 && root.name != path[0])
        return nullptr;
    const ParamNode* node = &root;
    for (std::size_t i = 1; i < nodeCount; ++i) {
        node = firstChildNamed(node->children, path[i]);
        if (node == nullptr)
            return nullptr;
    }
    for (const ParamEntry& entry : node->entries) {
        if (entry.name == path.back())
            return &entry;
    }
    return nullptr;
}

bool XML_Param_Notify::getParam(std::vector<std::string> path, std::int32_t& out) const
{
    const ParamEntry* entry = findEntry(path);
    if (entry == nullptr)
        return false;
    // A failed extraction stores 0 or the limit: read into a temporary. The
    // classic locale keeps digit grouping of a host-set locale out of it.
    std::istringstream reader(entry->value);
    reader.imbue(std::locale::classic());
    std::int32_t number = 0;
    if (!(reader >> number))
        return false;
    out = number;
    return true;
}

bool XML_Param_Notify::getParam(std::vector<std::string> path, std::string& out) const
{
    const ParamEntry* entry = findEntry(path);
    if (entry == nullptr)
        return false;
    out = entry->value;
    return true;
}

bool XML_Param_Notify::setParam(const std::vector<std::string>& path, const char* value)
{
    return setParam(path, std::string(value != nullptr ? value : ""));
}

bool XML_Param_Notify::setParam(const std::vector<std::string>& path, const std::string& value)
{
    if (path.empty())
        return true;
    ParamNode* parent = nullptr;
    std::size_t i = 0;
    const std::size_t nodeCount = path.size() - 1;

    // Walk the nodes that exist.
    if (nodeCount > 0 && root.name == path[0]) {
        parent = &root;
        for (i = 1; i < nodeCount; ++i) {
            ParamNode* child = firstChildNamed(parent->children, path[i]);
            if (child == nullptr)
                break;
            parent = child;
        }
    }
    // Create the rest, even where a namesake exists further on.
    for (; i < nodeCount; ++i) {
        if (parent == nullptr) {
            root.name = path[i];
            root.attributes.clear();
            parent = &root;
        } else {
            ParamNode child;
            child.name = path[i];
            child.parent = parent;
            parent->children.push_back(std::move(child));
            parent = &parent->children.back();
        }
    }
    putEntry(parent != nullptr ? *parent : root, path.back(), value, std::string());
    return true;
}

void XmlParamDocument::loadText(std::string bytes)
{
    // CR LF reads as LF, as the text mode of the Windows runtime does; a lone
    // CR stays.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        bytes[kept++] = bytes[i];
    }
    bytes.resize(kept);

    params.clear();
    stream.setSubscriber(params);
    stream.parse(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

bool XmlParamDocument::getParamString(const char* key, std::string& out, std::string defaultValue) const
{
    std::vector<std::string> path;
    splitParamPath(key, path);
    if (params.getParam(std::move(path), out))
        return true;
    out = std::move(defaultValue);
    return false;
}

void XmlParamDocument::write(std::ostream& out) const
{
    out << kDeclaration << kLineEnd;
    writeNode(out, params.getRoot(), 0);
}

