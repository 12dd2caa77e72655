#include "settings/xml/xml_param.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <locale>
#include <ostream>
#include <sstream>
#include <utility>

namespace {

const char kLineEnd[] = "\r\n";
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";

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
        out << indent << '\t' << '<' << entry.name << '>' << entry.value << "</" << entry.name << '>' << kLineEnd;
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
        putEntry(*current, name, value, attributes);
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

void XmlParamDocument::load(const char* fileName)
{
    if (fileName == nullptr)
        return;
    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr)
        return;
    // Offsets of the parse are 32-bit; a larger file is read up to that limit.
    const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    std::string bytes;
    char buffer[4096];
    std::size_t got = 0;
    while (bytes.size() < limit && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, std::min(got, limit - bytes.size()));
    }
    const bool failed = std::ferror(file) != 0;  // e.g. a directory on POSIX
    std::fclose(file);
    if (failed)
        return;

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

void XmlParamDocument::save(const char* fileName) const
{
    if (fileName == nullptr)
        return;
    std::ostringstream text;
    write(text);
    const std::string bytes = text.str();
    // Binary mode: the CR LF line ends are already in the text.
    std::FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr)
        return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}
