#include "settings/xml/xml_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// First occurrence of needle in hay, in time linear in hayLength + needleLength.
// Settings documents are tiny, but the reader must stay fast on hostile input,
// where a plain compare-at-every-candidate search can go quadratic.
std::size_t searchBytes(const char* hay, std::size_t hayLength, const char* needle, std::size_t needleLength)
{
    if (needleLength == 0 || needleLength > hayLength)
        return kNotFound;
    const char first = needle[0];
    const char* const lastStart = hay + (hayLength - needleLength);

    // Usual case (tags like "</name>"): the first byte does not recur in the
    // needle. Then no match can start inside a partial match, so the search
    // resumes where the comparison failed and every byte is looked at once.
    if (needleLength == 1 || std::memchr(needle + 1, first, needleLength - 1) == nullptr) {
        const char* candidate = hay;
        while (candidate <= lastStart) {
            candidate = static_cast<const char*>(
                std::memchr(candidate, first, static_cast<std::size_t>(lastStart - candidate) + 1));
            if (candidate == nullptr)
                return kNotFound;
            std::size_t matched = 1;
            while (matched < needleLength && candidate[matched] == needle[matched])
                ++matched;
            if (matched == needleLength)
                return static_cast<std::size_t>(candidate - hay);
            candidate += matched;
        }
        return kNotFound;
    }

    // Self-overlapping needle (a name holding '<'): Knuth-Morris-Pratt.
    std::vector<std::size_t> border(needleLength, 0);
    for (std::size_t i = 1, k = 0; i < needleLength; ++i) {
        while (k > 0 && needle[i] != needle[k])
            k = border[k - 1];
        if (needle[i] == needle[k])
            ++k;
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < hayLength; ++i) {
        while (k > 0 && hay[i] != needle[k])
            k = border[k - 1];
        if (hay[i] == needle[k])
            ++k;
        if (k == needleLength)
            return i + 1 - needleLength;
    }
    return kNotFound;
}

}  // namespace

std::int32_t XmlElementScanner::rangeLength(std::int32_t first, std::int32_t last)
{
    return (first >= 0 && last >= 0 && last >= first) ? last - first + 1 : 0;
}

std::int32_t XmlElementScanner::remainder(std::int32_t from) const
{
    return rangeLength(from, length - 1);
}

bool XmlElementScanner::setText(const char* newText, std::int32_t newLength)
{
    if (newText == nullptr || newLength < 1)
        return false;
    text = newText;
    length = newLength;
    position = 0;
    return true;
}

std::int32_t XmlElementScanner::findBytes(const char* needle, std::size_t needleLength, std::int32_t from,
                                          std::int32_t count) const
{
    if (text == nullptr || from < 0 || from >= length)
        return -1;
    if (count < 0 && count != kToEnd)
        return -1;
    const std::int64_t end = (count == kToEnd) ? length : std::min<std::int64_t>(length, std::int64_t{from} + count);
    const std::size_t at = searchBytes(text + from, static_cast<std::size_t>(end - from), needle, needleLength);
    return at == kNotFound ? -1 : from + static_cast<std::int32_t>(at);
}

std::int32_t XmlElementScanner::find(const std::string& needle, std::int32_t from, std::int32_t count) const
{
    return findBytes(needle.data(), needle.size(), from, count);
}

std::int32_t XmlElementScanner::find(char needle, std::int32_t from, std::int32_t count) const
{
    return findBytes(&needle, 1, from, count);
}

bool XmlElementScanner::findNext()
{
    tagStart = tagEnd = closeStart = closeEnd = position;

    const std::int32_t lt = find('<', position);
    if (lt < 0)
        return false;
    const std::int32_t gt = find('>', lt);
    if (gt < 0)
        return false;
    tagStart = lt;
    tagEnd = gt;
    // gt > lt, so the byte before it lies inside the tag.
    const bool emptyElement = text[tagEnd - 1] == '/';
    const std::int32_t innerEnd = tagEnd - (emptyElement ? 2 : 1);

    // Only a space ends the name early; tabs and line ends stay part of it.
    nameStart = tagStart + 1;
    nameEnd = innerEnd;
    const std::int32_t space = find(' ', nameStart, rangeLength(nameStart, nameEnd));
    if (space >= 0)
        nameEnd = space - 1;

    // "<a>", "<a >", "<a/>" and "<a />" carry no attribute text; "<a x/>" does.
    attrStart = attrEnd = -1;
    const std::int32_t nameLength = rangeLength(nameStart, nameEnd);
    if (nameLength > 0 && rangeLength(tagStart, tagEnd) - nameLength >= 4) {
        attrStart = nameEnd + 2;
        attrEnd = innerEnd;
    }

    if (emptyElement || isSpecialTag()) {
        valueStart = valueEnd = -1;
        position = tagEnd + 1;
        return true;
    }

    // Match the end tag. Nested elements of the same name are counted by
    // their start tags, which only count when written exactly as "<name>":
    // each one found before the current end tag pushes the end to the next
    // end tag. Both searches only move forward, so this is linear.
    const std::string name = nameText();
    const std::string closeTag = "</" + name + ">";
    const std::string openTag = "<" + name + ">";
    std::int32_t close = find(closeTag, tagEnd);
    if (close < 0)
        return false;
    std::int32_t open = find(openTag, tagEnd, close - tagEnd);
    while (open >= 0) {
        close = find(closeTag, close + 1);
        if (close < 0)
            return false;
        open = find(openTag, open + 1, close - (open + 1));
    }

    closeStart = close;
    closeEnd = close + static_cast<std::int32_t>(closeTag.size()) - 1;
    valueStart = tagEnd + 1;
    valueEnd = closeStart - 1;
    const std::int32_t next = find('<', closeEnd);
    position = next >= 0 ? next : closeEnd;
    return true;
}

void XmlElementScanner::rest(const char*& restText, std::int32_t& restLength) const
{
    if (text != nullptr && length >= 1 && position >= 0 && position <= length) {
        restText = text + position;
        restLength = remainder(position);
    } else {
        restText = nullptr;
        restLength = 0;
    }
}

bool XmlElementScanner::isSpecialTag() const
{
    const std::int32_t nameLength = rangeLength(nameStart, nameEnd);
    const auto startsWith = [&](const char* prefix, std::int32_t prefixLength) {
        return nameLength >= prefixLength &&
               std::memcmp(text + nameStart, prefix, static_cast<std::size_t>(prefixLength)) == 0;
    };
    return startsWith("?xml", 4) || startsWith("!--", 3);
}

std::string XmlElementScanner::slice(std::int32_t first, std::int32_t last) const
{
    const std::int32_t count = rangeLength(first, last);
    if (text == nullptr || count == 0)
        return std::string();
    return std::string(text + first, static_cast<std::size_t>(count));
}

std::string XmlElementScanner::nameText() const
{
    return slice(nameStart, nameEnd);
}
std::string XmlElementScanner::attributeText() const
{
    return slice(attrStart, attrEnd);
}
std::string XmlElementScanner::valueText() const
{
    return slice(valueStart, valueEnd);
}

void XmlStream::setSubscriber(XmlNotify& notify)
{
    subscriber = &notify;
}

bool XmlStream::parse(const char* source, std::int32_t sourceLength)
{
    if (source == nullptr || sourceLength < 1)
        return false;
    assign(source, static_cast<std::size_t>(sourceLength));
    parseLevel(data(), sourceLength, 0);
    return true;
}

// One nesting level. A level ends where no further element can be found or
// matched; the enclosing level then goes on after its own element. Likewise
// a nested level that ran to the very end of its range does not end the
// enclosing one: the siblings that follow are still read.
void XmlStream::parseLevel(const char* levelText, std::int32_t levelLength, int depth)
{
    if (depth >= kMaxDepth)
        return;
    XmlElementScanner scanner;
    if (!scanner.setText(levelText, levelLength) || !scanner.findNext())
        return;
    for (;;) {
        if (!scanner.isSpecialTag()) {
            // Elements without a name are not reported, but their content is read.
            const std::string name = scanner.nameText();
            const std::string attributes = scanner.attributeText();
            const bool report = subscriber != nullptr && !name.empty();
            const std::int32_t valueLength = XmlElementScanner::rangeLength(scanner.valueStart, scanner.valueEnd);
            if (scanner.find('<', scanner.valueStart, valueLength) >= 0) {
                if (report)
                    subscriber->onNodeBegin(name, attributes);
                parseLevel(scanner.text + scanner.valueStart, valueLength, depth + 1);
                if (report)
                    subscriber->onNodeEnd(name, attributes);
            } else if (report) {
                subscriber->onValueElement(name, scanner.valueText(), attributes);
            }
        }
        const char* restText = nullptr;
        std::int32_t restLength = 0;
        scanner.rest(restText, restLength);
        if (!scanner.setText(restText, restLength) || !scanner.findNext())
            return;
    }
}
