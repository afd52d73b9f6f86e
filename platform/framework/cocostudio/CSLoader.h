// CSLoader: builds node trees from the program's layout files (the project's own JSON format;
// see LAYOUT-FORMAT.md beside this file).
//
// createNode resolves the name through FileUtils, parses and checks the file (parsed documents
// are cached by full path until cocostudio::destroyCocosStudio), builds the tree and returns its
// autoreleased root. A missing or malformed file builds nothing: one line is logged and the
// result is null. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

namespace cocostudio {
class LayoutDocument;
}

namespace cocos2d {

class Node;

class CSLoader {
public:
    static CSLoader* getInstance();
    static void destroyInstance();

    static Node* createNode(const std::string& filename);

    // Forgets every parsed document.
    void purgeCache() { _documents.clear(); }
    // [hook] Number of parsed documents held.
    size_t getCachedDocumentCount() const { return _documents.size(); }

private:
    CSLoader() = default;

    std::shared_ptr<const cocostudio::LayoutDocument> loadDocument(const std::string& filename);

    std::unordered_map<std::string, std::shared_ptr<const cocostudio::LayoutDocument>> _documents;
};

} // namespace cocos2d
