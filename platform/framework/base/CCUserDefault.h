// UserDefault: the persistent settings store.
//
// Keys and values are arbitrary byte strings. The store is the text file
// <writable path>/UserDefault.txt, one entry per line: Base64(key), a TAB, Base64(value).
// Base64 holds neither TAB nor newline, so every key and value round-trips. Lines the store does
// not understand are kept and written back unchanged.
//
// The file is read once, on first use. set* and deleteValueForKey change memory only; flush()
// writes the whole store atomically (temporary file, fsync, rename) and reports failure, in which
// case the old file stays whole and the changes stay in memory for the next flush.
// Every call is mutex-protected and may be made from any thread.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace cocos2d {

class UserDefault {
public:
    static UserDefault* getInstance();
    // [hook] Forgets the store (unflushed changes are lost); the next getInstance reads the file
    // again from the current writable path.
    static void destroyInstance();

    std::string getStringForKey(const std::string& key);
    // The default when the key is absent.
    std::string getStringForKey(const std::string& key, const std::string& defaultValue);
    void setStringForKey(const std::string& key, const std::string& value);

    int getIntegerForKey(const std::string& key);
    int getIntegerForKey(const std::string& key, int defaultValue);
    void setIntegerForKey(const std::string& key, int value);

    bool getBoolForKey(const std::string& key);
    bool getBoolForKey(const std::string& key, bool defaultValue);
    void setBoolForKey(const std::string& key, bool value);

    void deleteValueForKey(const std::string& key);

    // Writes the store; false (and a log line) when the file could not be replaced.
    bool flush();

    // [hook] The file behind the store.
    const std::string& getFilePath() const { return _filePath; }

private:
    explicit UserDefault(const std::string& filePath);
    void load();
    bool lookup(const std::string& key, std::string* value);

    // One line of the file: an entry, or a line kept verbatim.
    struct Line {
        bool isEntry;
        std::string key;   // entries
        std::string value; // entries: the value; other lines: the raw text
    };

    std::mutex _mutex;
    std::string _filePath;
    std::vector<Line> _lines;
    std::unordered_map<std::string, size_t> _index; // key -> position in _lines
};

} // namespace cocos2d
