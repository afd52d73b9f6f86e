// GLProgramCache: the built-in programs by name, and programs the program adds by name.
//
// The built-ins exist from the first getInstance, headless too (as inert objects that link on
// first use with a GL context), so nodes can always hold program states.
#pragma once

#include <string>
#include <unordered_map>

namespace cocos2d {

class GLProgram;

class GLProgramCache {
public:
    static GLProgramCache* getInstance();
    static void destroyInstance();

    // Null for an unknown name.
    GLProgram* getGLProgram(const std::string& key) const;
    // Retains the program under the key (replacing and releasing an earlier one).
    void addGLProgram(GLProgram* program, const std::string& key);

private:
    GLProgramCache();
    ~GLProgramCache();
    void loadDefaultGLPrograms();

    std::unordered_map<std::string, GLProgram*> _programs;
};

} // namespace cocos2d
