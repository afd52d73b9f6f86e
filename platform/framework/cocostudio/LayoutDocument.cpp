#include "cocostudio/LayoutDocument.h"

#include <cmath>
#include <set>
#include <unordered_map>
#include <vector>

#include "base/CCConsole.h"

using nlohmann::json;

namespace cocostudio {

namespace {

// What a field must hold.
enum class Kind {
    String,
    Bool,
    Number,    // any finite number
    Integer,   // a whole number in the int range
    Byte,      // a whole number 0-255
    Percent,   // a whole number 0-100
    LayoutType, // a whole number 0-5
    Align,     // a relative alignment 0-21
    Vec2,      // [x, y]
    Size,      // [w, h], both >= 0
    Rect,      // [x, y, w, h], w and h >= 0
    Margin,    // [left, top, right, bottom]
    Color3,    // [r, g, b], bytes
    Color4,    // [r, g, b, a], bytes
    HAlign,    // "left" | "center" | "right"
    VAlign,    // "top" | "center" | "bottom"
    BgType,    // "none" | "solid"
    ParamKind, // "relative" | "linear"
    Gravity,   // "none" | "left" | "top" | "right" | "bottom" | "centerVertical" | "centerHorizontal"
    Strings3,  // one to three texts
    Object,    // layoutParameter
    Children,  // an array of node objects
};

using FieldTable = std::unordered_map<std::string, Kind>;

const FieldTable& nodeFields()
{
    static const FieldTable table = {
        {"type", Kind::String},         {"name", Kind::String},        {"tag", Kind::Integer},
        {"position", Kind::Vec2},       {"positionPercent", Kind::Vec2}, {"anchor", Kind::Vec2},
        {"size", Kind::Size},           {"sizePercent", Kind::Vec2},   {"scale", Kind::Vec2},
        {"rotation", Kind::Number},     {"visible", Kind::Bool},       {"zOrder", Kind::Integer},
        {"opacity", Kind::Byte},        {"color", Kind::Color3},       {"userString", Kind::String},
        {"children", Kind::Children},
    };
    return table;
}

const FieldTable& widgetFields()
{
    static const FieldTable table = {
        {"touchEnabled", Kind::Bool},
        {"ignoreContentAdapt", Kind::Bool},
        {"layoutParameter", Kind::Object},
    };
    return table;
}

struct TypeInfo {
    bool widget;
    FieldTable fields;
};

const std::unordered_map<std::string, TypeInfo>& types()
{
    static const std::unordered_map<std::string, TypeInfo> table = {
        {"Node", {false, {}}},
        {"Layer", {false, {}}},
        {"Sprite", {false, {{"texture", Kind::String}, {"flipX", Kind::Bool}, {"flipY", Kind::Bool}}}},
        {"Scale9Sprite", {false, {{"texture", Kind::String}, {"capInsets", Kind::Rect}}}},
        {"ImageView", {true, {{"texture", Kind::String}, {"scale9", Kind::Bool}, {"capInsets", Kind::Rect}}}},
        {"Button",
         {true,
          {{"normal", Kind::String},
           {"pressed", Kind::String},
           {"disabled", Kind::String},
           {"scale9", Kind::Bool},
           {"capInsets", Kind::Rect},
           {"title", Kind::String},
           {"titleFontSize", Kind::Number},
           {"titleColor", Kind::Color3},
           {"titleFont", Kind::String},
           {"pressedAction", Kind::Bool}}}},
        {"Text",
         {true,
          {{"text", Kind::String},
           {"fontName", Kind::String},
           {"fontSize", Kind::Number},
           {"textColor", Kind::Color4},
           {"hAlign", Kind::HAlign},
           {"vAlign", Kind::VAlign},
           {"areaSize", Kind::Size}}}},
        {"Layout",
         {true,
          {{"layoutType", Kind::LayoutType},
           {"clipping", Kind::Bool},
           {"bgColorType", Kind::BgType},
           {"bgColor", Kind::Color3},
           {"bgOpacity", Kind::Byte}}}},
        {"Slider",
         {true,
          {{"bar", Kind::String}, {"ball", Kind::Strings3}, {"progress", Kind::String}, {"percent", Kind::Percent}}}},
        {"CheckBox", {true, {{"background", Kind::String}, {"cross", Kind::String}, {"selected", Kind::Bool}}}},
        {"TextField",
         {true,
          {{"text", Kind::String},
           {"placeholder", Kind::String},
           {"fontSize", Kind::Number},
           {"textColor", Kind::Color4}}}},
    };
    return table;
}

const FieldTable& parameterFields()
{
    static const FieldTable table = {
        {"kind", Kind::ParamKind},     {"align", Kind::Align},    {"relativeName", Kind::String},
        {"relativeTo", Kind::String},  {"margin", Kind::Margin},    {"gravity", Kind::Gravity},
    };
    return table;
}

bool isWhole(const json& v, double lo, double hi)
{
    if (!v.is_number())
        return false;
    const double d = v.get<double>();
    return std::isfinite(d) && d == std::floor(d) && d >= lo && d <= hi;
}

bool isFiniteNumber(const json& v) { return v.is_number() && std::isfinite(v.get<double>()); }

bool isNumberArray(const json& v, size_t n, double lo = -HUGE_VAL)
{
    if (!v.is_array() || v.size() != n)
        return false;
    for (const json& e : v) {
        if (!isFiniteNumber(e) || e.get<double>() < lo)
            return false;
    }
    return true;
}

bool isByteArray(const json& v, size_t n)
{
    if (!v.is_array() || v.size() != n)
        return false;
    for (const json& e : v) {
        if (!isWhole(e, 0, 255))
            return false;
    }
    return true;
}

bool isOneOf(const json& v, std::initializer_list<const char*> values)
{
    if (!v.is_string())
        return false;
    const std::string& s = v.get_ref<const std::string&>();
    for (const char* candidate : values) {
        if (s == candidate)
            return true;
    }
    return false;
}

const char* describe(Kind kind)
{
    switch (kind) {
    case Kind::String: return "a text";
    case Kind::Bool: return "true or false";
    case Kind::Number: return "a number";
    case Kind::Integer: return "a whole number";
    case Kind::Byte: return "a whole number from 0 to 255";
    case Kind::Percent: return "a whole number from 0 to 100";
    case Kind::LayoutType: return "a layout type from 0 to 5";
    case Kind::Align: return "an alignment from 0 to 21";
    case Kind::Vec2: return "[x, y]";
    case Kind::Size: return "[width, height], not negative";
    case Kind::Rect: return "[x, y, width, height], sizes not negative";
    case Kind::Margin: return "[left, top, right, bottom]";
    case Kind::Color3: return "[r, g, b] in 0-255";
    case Kind::Color4: return "[r, g, b, a] in 0-255";
    case Kind::HAlign: return "\"left\", \"center\" or \"right\"";
    case Kind::VAlign: return "\"top\", \"center\" or \"bottom\"";
    case Kind::BgType: return "\"none\" or \"solid\"";
    case Kind::ParamKind: return "\"relative\" or \"linear\"";
    case Kind::Gravity: return "a linear gravity name";
    case Kind::Strings3: return "one to three texts";
    case Kind::Object: return "an object";
    case Kind::Children: return "an array of nodes";
    }
    return "?";
}

bool matches(const json& v, Kind kind)
{
    switch (kind) {
    case Kind::String: return v.is_string();
    case Kind::Bool: return v.is_boolean();
    case Kind::Number: return isFiniteNumber(v);
    case Kind::Integer: return isWhole(v, -2147483648.0, 2147483647.0);
    case Kind::Byte: return isWhole(v, 0, 255);
    case Kind::Percent: return isWhole(v, 0, 100);
    case Kind::LayoutType: return isWhole(v, 0, 5);
    case Kind::Align: return isWhole(v, 0, 21);
    case Kind::Vec2: return isNumberArray(v, 2);
    case Kind::Size: return isNumberArray(v, 2, 0.0);
    case Kind::Rect:
        return isNumberArray(v, 4) && v[2].get<double>() >= 0.0 && v[3].get<double>() >= 0.0;
    case Kind::Margin: return isNumberArray(v, 4);
    case Kind::Color3: return isByteArray(v, 3);
    case Kind::Color4: return isByteArray(v, 4);
    case Kind::HAlign: return isOneOf(v, {"left", "center", "right"});
    case Kind::VAlign: return isOneOf(v, {"top", "center", "bottom"});
    case Kind::BgType: return isOneOf(v, {"none", "solid"});
    case Kind::ParamKind: return isOneOf(v, {"relative", "linear"});
    case Kind::Gravity:
        return isOneOf(v, {"none", "left", "top", "right", "bottom", "centerVertical", "centerHorizontal"});
    case Kind::Strings3:
        if (!v.is_array() || v.empty() || v.size() > 3)
            return false;
        for (const json& e : v) {
            if (!e.is_string())
                return false;
        }
        return true;
    case Kind::Object: return v.is_object();
    case Kind::Children: return v.is_array();
    }
    return false;
}

class Checker {
public:
    explicit Checker(const std::string& source) : _source(source) {}

    bool checkNode(const json& node, const std::string& where, int depth, std::string& error)
    {
        if (depth > LayoutDocument::kMaxDepth) {
            error = where + ": nested deeper than " + std::to_string(LayoutDocument::kMaxDepth) + " levels";
            return false;
        }
        if (!node.is_object()) {
            error = where + ": a node must be an object";
            return false;
        }
        const auto type = node.find("type");
        if (type == node.end() || !type->is_string()) {
            error = where + ": missing \"type\"";
            return false;
        }
        const auto info = types().find(type->get<std::string>());
        if (info == types().end()) {
            error = where + ": unknown type \"" + type->get<std::string>() + "\"";
            return false;
        }
        const std::string here = where + " (" + info->first + nameOf(node) + ")";
        for (const auto& [key, value] : node.items()) {
            const Kind* kind = find(nodeFields(), key);
            if (kind == nullptr && info->second.widget)
                kind = find(widgetFields(), key);
            if (kind == nullptr)
                kind = find(info->second.fields, key);
            if (kind == nullptr) {
                logUnknown(here, key);
                continue;
            }
            if (!matches(value, *kind)) {
                error = here + ": \"" + key + "\" must be " + describe(*kind);
                return false;
            }
            if (*kind == Kind::Object && !checkParameter(value, here, error))
                return false;
        }
        const auto children = node.find("children");
        if (children != node.end()) {
            for (size_t i = 0; i < children->size(); ++i) {
                if (!checkNode((*children)[i], here + "/children[" + std::to_string(i) + "]", depth + 1, error))
                    return false;
            }
        }
        return true;
    }

private:
    static const Kind* find(const FieldTable& table, const std::string& key)
    {
        const auto it = table.find(key);
        return it == table.end() ? nullptr : &it->second;
    }

    static std::string nameOf(const json& node)
    {
        const auto name = node.find("name");
        if (name == node.end() || !name->is_string())
            return "";
        return " \"" + name->get<std::string>() + "\"";
    }

    bool checkParameter(const json& parameter, const std::string& where, std::string& error)
    {
        for (const auto& [key, value] : parameter.items()) {
            const Kind* kind = find(parameterFields(), key);
            if (kind == nullptr) {
                logUnknown(where + " layoutParameter", key);
                continue;
            }
            if (!matches(value, *kind)) {
                error = where + ": layoutParameter \"" + key + "\" must be " + describe(*kind);
                return false;
            }
        }
        return true;
    }

    void logUnknown(const std::string& where, const std::string& key)
    {
        if (_logged.insert(key).second)
            cocos2d::log("CSLoader: %s: %s: unknown field \"%s\" ignored", _source.c_str(), where.c_str(), key.c_str());
    }

    const std::string& _source;
    std::set<std::string> _logged;
};

} // namespace

std::shared_ptr<const LayoutDocument> LayoutDocument::parse(const std::string& text, const std::string& source,
                                                             std::string& error)
{
    auto document = std::shared_ptr<LayoutDocument>(new LayoutDocument());
    try {
        document->_json = json::parse(text);
    } catch (const json::exception& e) {
        error = std::string("not valid JSON: ") + e.what();
        return nullptr;
    }
    const json& top = document->_json;
    if (!top.is_object()) {
        error = "the document must be a JSON object";
        return nullptr;
    }
    const auto format = top.find("format");
    if (format == top.end() || !format->is_string() || format->get<std::string>() != kFormatName) {
        error = std::string("\"format\" must be \"") + kFormatName + "\"";
        return nullptr;
    }
    const auto version = top.find("version");
    if (version == top.end() || !isWhole(*version, 1, kFormatVersion)) {
        error = "unsupported \"version\" (this reader knows version " + std::to_string(kFormatVersion) + ")";
        return nullptr;
    }
    const auto root = top.find("root");
    if (root == top.end()) {
        error = "missing \"root\"";
        return nullptr;
    }
    Checker checker(source);
    if (!checker.checkNode(*root, "root", 1, error))
        return nullptr;
    return document;
}

} // namespace cocostudio
