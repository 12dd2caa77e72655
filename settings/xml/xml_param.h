// The parameter tree of the settings file: built from XmlStream events,
// addressed by colon-separated keys such as "RavelpakSettings:General:Check-CRC",
// and written back to a file.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "settings/xml/xml_stream.h"

// One value element.
struct ParamEntry {
    std::string name;
    std::string value;       // content between start and end tag, character references decoded
    std::string attributes;  // raw attribute text of the start tag
};

// One node (an element with child elements).
struct ParamNode {
    std::vector<ParamEntry> entries;  // order of first appearance, names unique
    std::string name;
    std::string attributes;
    std::vector<ParamNode> children;  // order of appearance, names may repeat
    // Enclosing node, not owned. Children live by value in growable arrays, so
    // this stays valid only along the chain of nodes open during a parse.
    ParamNode* parent = nullptr;
};

// Splits a key at each ':' into the components of a parameter path: all but
// the last name nested nodes starting at the root, the last names an entry.
// Adjacent colons give an empty component, a leading colon an empty first
// one, a trailing colon no extra one. A key without a colon is one component;
// a null or empty key gives none. `components` is emptied first.
void splitParamPath(const char* key, std::vector<std::string>& components);

// Text for element content: '&', '<', '>' and '"' become references, all else stays.
std::string escapeXmlText(const std::string& text);

// The reverse: the references &amp; &lt; &gt; &quot; &apos;, &#N; and &#xN; (written as UTF-8)
// are decoded; a '&' that begins none of them stays as it is.
std::string unescapeXmlText(const std::string& text);

// The encoding named by the declaration at the start of `bytes`, as written; empty when there
// is no declaration or it names none.
std::string declaredXmlEncoding(const std::string& bytes);

// Builds the parameter tree from parse events and answers lookups by path.
class XML_Param_Notify : public XmlNotify {
public:
    XML_Param_Notify() = default;
    // The tree holds a link to the node that is open during a parse.
    XML_Param_Notify(const XML_Param_Notify&) = delete;
    XML_Param_Notify& operator=(const XML_Param_Notify&) = delete;

    // The first node begun while none is open is the root: it takes the
    // node's name and attributes and keeps what it holds, so a second
    // top-level node renames it and adds to it.
    void onNodeBegin(const std::string& name, const std::string& attributes) override;
    // Stores the entry, its value unescaped, in the open node: a name already
    // present gets the new value and attributes in place, a new name is
    // appended. Ignored while no node is open.
    void onValueElement(const std::string& name, const std::string& value, const std::string& attributes) override;
    void onNodeEnd(const std::string& name, const std::string& attributes) override;
    ~XML_Param_Notify() override = default;

    // Empties the root (name, attributes, entries and children).
    void clear();

    // Lookup: each node component picks the first child of that name, starting
    // with the root itself; the last component picks the entry. The integer
    // form reads the value like `std::istream >> int` and leaves `out`
    // unchanged when no number can be read or it does not fit in 32 bits.
    bool getParam(std::vector<std::string> path, std::int32_t& out) const;
    bool getParam(std::vector<std::string> path, std::string& out) const;

    // Stores the value under the path and returns true. Nodes are looked up
    // like getParam does; from the first missing one on, the rest of the path
    // is created (a missing first component renames the root). A single
    // component names an entry of the root; an empty path is ignored.
    bool setParam(const std::vector<std::string>& path, const char* value);
    bool setParam(const std::vector<std::string>& path, const std::string& value);

    ParamNode& getRoot() { return root; }
    const ParamNode& getRoot() const { return root; }

private:
    const ParamEntry* findEntry(const std::vector<std::string>& path) const;

    ParamNode root;
    ParamNode* current = nullptr;  // open node during a parse, not owned
};

// A settings document: parser and tree side by side.
class XmlParamDocument {
public:
    XmlStream stream;
    XML_Param_Notify params;

    // Replaces the tree by the document in `bytes`. A CR LF pair reads as one
    // line feed, so a file reads the same on every platform.
    void loadText(std::string bytes);

    // The value of the entry the key names; otherwise `out` = defaultValue and
    // false.
    bool getParamString(const char* key, std::string& out, std::string defaultValue) const;

    // Writes the declaration line, which names UTF-8, and the tree under the
    // root: entries of a node before its children, one tab of indentation per
    // level, every line ended by CR LF. Values are escaped, names are not;
    // attributes are not written. The values must be UTF-8 to match the
    // declaration.
    void write(std::ostream& out) const;
};
