// Event-driven reader for the small XML dialect of the settings file.
//
// The dialect: start and end tags nested to any depth, empty-element tags,
// the XML declaration and comments (both skipped). Attributes are not parsed:
// the text of a start tag after the element name is passed on raw. An element
// whose content holds a '<' is a node; any other element is a value element
// whose raw content (no trimming, no entity decoding) is its value. Text
// between elements is ignored, and markup that cannot be matched ends the
// reading of the level it stands in. All comparisons are byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Receives what XmlStream finds, in document order. The slot order of the
// virtual functions is part of the interface: keep it.
class XmlNotify {
public:
    // An element with child elements begins.
    virtual void onNodeBegin(const std::string& name, const std::string& attributes) = 0;
    // An element without child elements was read; value is its raw content.
    virtual void onValueElement(const std::string& name, const std::string& value, const std::string& attributes) = 0;
    // The element announced by the matching onNodeBegin ends; it gets the same
    // name and attribute text.
    virtual void onNodeEnd(const std::string& name, const std::string& attributes) = 0;
    virtual ~XmlNotify() = default;
};

// Scanning state of one nesting level: finds one element at a time in a byte
// range. All offsets are relative to `text` and are inclusive bounds; -1 means
// unset. The range [a, b] is empty unless a >= 0, b >= 0 and b >= a.
class XmlElementScanner {
public:
    // Count argument of find() meaning "up to the end of the range".
    static constexpr std::int32_t kToEnd = -1;

    const char* text = nullptr;  // first byte of the range, not owned
    std::int32_t length = 0;     // bytes in the range
    std::int32_t position = 0;   // where the search for the next element starts

    std::int32_t tagStart = -1;    // '<' of the start tag
    std::int32_t tagEnd = -1;      // '>' of the start tag
    std::int32_t closeStart = -1;  // '<' of the end tag
    std::int32_t closeEnd = -1;    // '>' of the end tag
    std::int32_t nameStart = -1;
    std::int32_t nameEnd = -1;
    std::int32_t attrStart = -1;
    std::int32_t attrEnd = -1;
    std::int32_t valueStart = -1;
    std::int32_t valueEnd = -1;

    // Number of bytes in [first, last]; 0 for an unset or empty range.
    static std::int32_t rangeLength(std::int32_t first, std::int32_t last);
    // Number of bytes from `from` to the end of the range.
    std::int32_t remainder(std::int32_t from) const;

    // Points the scanner at a new range and restarts at its first byte.
    // Fails, changing nothing, for a null text or a length below 1.
    bool setText(const char* newText, std::int32_t newLength);

    // Offset of the first occurrence of needle lying wholly inside
    // [from, from + count - 1] (clipped to the range), or -1. Any other
    // negative count, and an empty needle, find nothing. Linear in the bytes
    // searched, whatever the needle.
    std::int32_t find(const std::string& needle, std::int32_t from, std::int32_t count = kToEnd) const;
    std::int32_t find(char needle, std::int32_t from, std::int32_t count = kToEnd) const;

    // Finds the next element at or after `position` and sets the offsets.
    // For a node or value element the end tag is matched, counting nested
    // start tags written exactly as "<name>". Returns false when there is no
    // further element or its end tag is missing.
    bool findNext();

    // The text after the last element found, or null and 0 when the scanner
    // holds no valid range.
    void rest(const char*& restText, std::int32_t& restLength) const;

    // The element found is the declaration or a comment.
    bool isSpecialTag() const;

    std::string nameText() const;
    std::string attributeText() const;
    std::string valueText() const;

private:
    std::int32_t findBytes(const char* needle, std::size_t needleLength, std::int32_t from, std::int32_t count) const;
    std::string slice(std::int32_t first, std::int32_t last) const;
};

// The parser. The string it derives from holds a copy of the text most
// recently parsed; the offsets of a parse point into that copy.
class XmlStream : public std::string {
public:
    // Nesting levels that are read. The parse recurses once per level and runs
    // inside a host process, so content nested deeper is ignored like other
    // unmatched markup instead of exhausting the stack.
    static constexpr int kMaxDepth = 256;

    XmlStream() = default;
    virtual ~XmlStream() = default;

    // Events go to notify from now on. The stream never owns or deletes it.
    void setSubscriber(XmlNotify& notify);

    // Copies the bytes and reports their elements to the subscriber. Returns
    // false, doing nothing, for a null text or a length below 1; otherwise
    // true: malformed input only cuts the reading short.
    bool parse(const char* source, std::int32_t sourceLength);

private:
    void parseLevel(const char* levelText, std::int32_t levelLength, int depth);

    XmlNotify* subscriber = nullptr;
};
