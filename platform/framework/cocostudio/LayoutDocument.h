// LayoutDocument: one parsed and checked layout file (the project's own JSON format, described in
// LAYOUT-FORMAT.md beside this file).
//
// parse() checks the whole document before anything is built: the header, every node's "type",
// and the JSON type and range of every known field. A node of an unknown type, or a known field
// of the wrong type, makes the whole document invalid. A field the format does not know is
// logged once per document and ignored. After a successful parse the builder may read every
// known field without checking it again.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace cocostudio {

class LayoutDocument {
public:
    static constexpr const char* kFormatName = "quorvane-layout";
    static constexpr int kFormatVersion = 1;
    // Deeper trees are refused (the builder recurses once per level).
    static constexpr int kMaxDepth = 64;

    // Parses `text`; `source` names the file in log lines. Null with `error` set on failure.
    static std::shared_ptr<const LayoutDocument> parse(const std::string& text, const std::string& source,
                                                       std::string& error);

    // The checked root node object.
    const nlohmann::json& root() const { return _json.at("root"); }

private:
    nlohmann::json _json;
};

} // namespace cocostudio
