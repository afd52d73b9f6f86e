#include "platform/CCPlistReader.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>
#include <string>

namespace cocos2d {
namespace detail {

namespace {

constexpr int kMaxDepth = 256;

std::string trimmed(const char* text)
{
    std::string s(text);
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// `ok` turns false when the nesting is too deep; the caller then discards everything.
Value readValue(const pugi::xml_node& node, int depth, bool& ok);

ValueMap readDict(const pugi::xml_node& dict, int depth, bool& ok)
{
    if (depth > kMaxDepth) {
        ok = false;
    }
    if (!ok) {
        return ValueMap();
    }
    ValueMap map;
    for (pugi::xml_node child = dict.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || std::strcmp(child.name(), "key") != 0) {
            continue;
        }
        pugi::xml_node value = child.next_sibling();
        while (value && value.type() != pugi::node_element) {
            value = value.next_sibling();
        }
        if (!value || std::strcmp(value.name(), "key") == 0) {
            continue; // a key without a value
        }
        map[child.text().get()] = readValue(value, depth + 1, ok);
        child = value;
    }
    return map;
}

ValueVector readArray(const pugi::xml_node& array, int depth, bool& ok)
{
    if (depth > kMaxDepth) {
        ok = false;
    }
    if (!ok) {
        return ValueVector();
    }
    ValueVector vector;
    for (pugi::xml_node child = array.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element) {
            vector.push_back(readValue(child, depth + 1, ok));
        }
    }
    return vector;
}

Value readInteger(const char* text)
{
    const std::string t = trimmed(text);
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(t.c_str(), &end, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) {
        return Value(t);
    }
    return Value(static_cast<int>(v));
}

Value readReal(const char* text)
{
    const std::string t = trimmed(text);
    double v = 0.0;
    const char* begin = t.c_str();
    if (!t.empty() && t[0] == '+') {
        ++begin;
    }
    std::from_chars(begin, t.c_str() + t.size(), v); // locale-independent; 0 when unreadable
    return Value(v);
}

Value readValue(const pugi::xml_node& node, int depth, bool& ok)
{
    const char* name = node.name();
    if (std::strcmp(name, "dict") == 0) {
        return Value(readDict(node, depth, ok));
    }
    if (std::strcmp(name, "array") == 0) {
        return Value(readArray(node, depth, ok));
    }
    if (std::strcmp(name, "string") == 0 || std::strcmp(name, "date") == 0 || std::strcmp(name, "data") == 0) {
        return Value(std::string(node.text().get()));
    }
    if (std::strcmp(name, "integer") == 0) {
        return readInteger(node.text().get());
    }
    if (std::strcmp(name, "real") == 0) {
        return readReal(node.text().get());
    }
    if (std::strcmp(name, "true") == 0) {
        return Value(true);
    }
    if (std::strcmp(name, "false") == 0) {
        return Value(false);
    }
    return Value();
}

} // namespace

ValueMap readPlistDictionary(const char* data, size_t size)
{
    if (!data || size == 0) {
        return ValueMap();
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(data, size, pugi::parse_default | pugi::parse_ws_pcdata_single, pugi::encoding_auto);
    if (!parsed) {
        return ValueMap();
    }
    pugi::xml_node root = doc.document_element();
    if (std::strcmp(root.name(), "plist") == 0) {
        root = root.first_child();
        while (root && root.type() != pugi::node_element) {
            root = root.next_sibling();
        }
    }
    if (!root || std::strcmp(root.name(), "dict") != 0) {
        return ValueMap();
    }
    bool ok = true;
    ValueMap result = readDict(root, 0, ok);
    return ok ? result : ValueMap();
}

} // namespace detail
} // namespace cocos2d
