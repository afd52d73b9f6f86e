// isSharedObjects: the process-wide registry of named imaging objects. The viewer screens file
// the series loaders they open here under the series folder, so that another screen finds a
// loaded series by name instead of loading it again.
//
// The registry holds one reference to each listed object. Main thread only.
#pragma once

#include "isObject.h"

#include <string>
#include <vector>

namespace isImageSDK {

class isSharedObjects : public cocos2d::Ref {
public:
    // The one registry, created on first use; it lives until shutdownImageSDK.
    static isSharedObjects* getInstance();
    // The registry when it exists, else null; never creates it.
    static isSharedObjects* peekInstance();
    // Clears and releases the registry and forgets it (a later getInstance makes a new one).
    static void destroyInstance();

    ~isSharedObjects() override;
    bool init();

    // The first listed object whose name equals the text byte for byte, or null; not retained
    // for the caller.
    isObject* getObject(const std::string& name) const;
    // Appends and retains the object unless that very object is listed already.
    void addObject(isObject* object);
    // Removes the first object with the name and releases it; nothing when none has it.
    void removeObject(const std::string& name);
    // Removes the given object and releases it; nothing when it is not listed.
    void removeObject(isObject* object);
    // Releases every object and empties the list.
    virtual void clear();

    const std::vector<isObject*>& getObjects() const { return m_objects; }

private:
    isSharedObjects() = default;
    static isSharedObjects* create();

    std::vector<isObject*> m_objects;
};

} // namespace isImageSDK
