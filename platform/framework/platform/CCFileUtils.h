// FileUtils: resource lookup through search paths, the writable path, file and folder
// operations, and XML property lists.
//
// Resource lookup: relative names are tried under each search path in order, then under the
// resource root, which is always searched last without being listed. Relative search paths are
// taken relative to the root; every stored entry ends in "/". Hits are cached; the cache is
// cleared by every search-path change and every write or remove made through FileUtils. Misses
// are never cached.
//
// The writable path is $XDG_DATA_HOME/quorvane/ (else $HOME/.local/share/quorvane/), ending in
// "/" and created on first use.
//
// Threads: lookups, reads, getFileSize, isFileExist, createDirectory, removeFile and the writes
// may run on any thread. Search-path and root changes are made on the main thread; a lock keeps
// workers' lookups from reading the list while it is rebuilt, so a lookup sees the list either
// before or after a change (and caches nothing found through an outdated list). Paths are UTF-8
// byte strings with no case folding.
#pragma once

#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/CCData.h"
#include "base/CCValue.h"

namespace cocos2d {

class FileUtils {
public:
    static FileUtils* getInstance();
    // [hook] Forgets search paths, root, writable path and cache.
    static void destroyInstance();

    virtual ~FileUtils();

    // ----- search paths
    void setSearchPaths(const std::vector<std::string>& searchPaths);
    std::vector<std::string> getSearchPaths() const;
    // A path already listed (after expansion) is not added again; with front it moves to the front.
    void addSearchPath(const std::string& path, bool front = false);
    void setDefaultResourceRootPath(const std::string& path);
    std::string getDefaultResourceRootPath() const;
    void purgeCachedEntries();

    // ----- lookup
    // An existing absolute path as it is; else the first search path (then the root) under which
    // the name exists; else "" (logged).
    std::string fullPathForFilename(const std::string& filename) const;
    bool isAbsolutePath(const std::string& path) const { return !path.empty() && path[0] == '/'; }
    // Relative names are resolved through the search paths.
    bool isFileExist(const std::string& filename) const;
    bool isDirectoryExist(const std::string& dirPath) const;
    // Size in bytes, or -1 when missing.
    long getFileSize(const std::string& filepath) const;

    // ----- reading (relative names through fullPathForFilename, absolute ones directly)
    std::string getStringFromFile(const std::string& filename) const;
    // The whole file; an empty or missing file gives a null Data.
    Data getDataFromFile(const std::string& filename) const;
    // An XML property list whose root is a dictionary; anything else gives an empty map.
    ValueMap getValueMapFromFile(const std::string& filename) const;
    ValueMap getValueMapFromData(const char* filedata, int filesize) const;

    // ----- writing (a temporary file in the same folder, then a rename; false on any failure,
    // leaving no partial file)
    bool writeStringToFile(const std::string& dataStr, const std::string& fullPath);
    bool writeDataToFile(const Data& data, const std::string& fullPath);

    // Creates every missing parent; true when the folder exists afterwards, false when a file is
    // in the way. A trailing "/" is accepted.
    bool createDirectory(const std::string& dirPath);
    // Recursive (symbolic links are removed, not followed). Refuses "", "/" and the writable path.
    bool removeDirectory(const std::string& dirPath);
    bool removeFile(const std::string& filepath);
    bool renameFile(const std::string& path, const std::string& oldname, const std::string& name);
    bool renameFile(const std::string& oldfullpath, const std::string& newfullpath);

    // ----- writable path
    std::string getWritablePath() const;
    // [hook] Replaces the default writable path ("" restores it).
    void setWritablePath(const std::string& writablePath);

    // ----- file chooser [add] (CCFileChooser.cpp)
    // The absolute path of a file the user chooses, or "" when cancelled. Runs `zenity
    // --file-selection` when zenity is installed; otherwise shows the layer's own prompt, a line
    // of typed path with OK and Cancel, over the running scene. Modal: while it waits the window
    // is polled and redrawn, but neither the scheduler nor the program's listeners run. hint, when
    // not empty, is where the dialog starts. Headless (or with a preset answer): the preset, else "".
    std::string chooseFile(const std::string& hint);
    // [hook] Every later chooseFile answers this text at once, until clearChooseFileAnswer.
    void setChooseFileAnswer(const std::string& answer);
    void clearChooseFileAnswer();

protected:
    FileUtils();

    std::string expandSearchPath(const std::string& path) const;
    void rebuildSearchPaths();
    std::string defaultWritablePath() const;

    // Guards the three below: shared by lookups, exclusive for changes.
    mutable std::shared_mutex _pathsMutex;
    std::vector<std::string> _originalSearchPaths; // as given
    std::vector<std::string> _searchPaths;         // expanded, each ending in "/"
    std::string _defaultResRootPath;               // ends in "/"

    mutable std::mutex _cacheMutex;
    mutable std::unordered_map<std::string, std::string> _fullPathCache;

    bool _hasChooseFileAnswer = false;
    std::string _chooseFileAnswer;

    mutable std::mutex _writableMutex;
    std::string _writablePath; // set by setWritablePath, ends in "/"
    mutable std::string _createdWritablePath;
};

} // namespace cocos2d
