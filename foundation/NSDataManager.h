// Process-wide owner of the data sources (NSUI::NSDatas): it keeps them in the order they were
// added and, while enabled, calls their update once a second on the main thread (first half a
// second after enabling). The application turns it on once at start-up; the exit purge clears and
// releases it.
//
// Main thread only.
#pragma once

#include "NSDatas.h"

#include "cocos2d.h"

#include <string>
#include <vector>

namespace NSUI
{

class NSLanguage;

class NSDataManager : public cocos2d::Ref
{
public:
    // Created on first use and retained once for the process.
    static NSDataManager* getInstance();
    // The manager if it exists, else null; never creates it.
    static NSDataManager* peekInstance();
    // clear, then release the process's reference and forget the manager (the exit purge).
    static void destroyInstance();

    ~NSDataManager() override;

    virtual bool init();
    // Cancels the requests of every source, releases them all and stops the tick.
    virtual void clear();

    // Registers or removes the per-second tick; nothing happens when the state does not change.
    void setEnabled(bool enabled);
    bool isEnabled() const { return _scheduled; }

    // Appends a source (retained) to the ticked list. A source registers itself when created.
    void addSource(NSDatas* source);
    const std::vector<NSDatas*>& getSources() const { return _sources; }

    // The tick: update of every source, in the order they were added.
    void update(float dt);

    // Settings, texts and the server base for code without the UILocalConfig mixin; defined with
    // the settings store in UILocalConfig.cpp.
    // The HTTP base address of the server: "127.0.0.1" until AppConfig sets the configured one.
    static std::string getServerBase();
    static void setServerBase(const std::string& base);
    // The translation of key from the table published with setLanguage, or "".
    static std::string getText(const std::string& key);
    // As UILocalConfig::getLocalString.
    static std::string getLocalString(const std::string& key, const std::string& defaultValue);
    // As UILocalConfig::setLocalString, but in memory only: the next flush of the store writes it.
    static void setLocalString(const std::string& key, const std::string& value);
    // The language table getText reads (not owned); AppConfig publishes it.
    static void setLanguage(NSLanguage* language);
    static NSLanguage* getLanguage();

private:
    NSDataManager() = default;

    std::vector<NSDatas*> _sources;
    bool _scheduled = false;
};

} // namespace NSUI
