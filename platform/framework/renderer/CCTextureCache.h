// TextureCache: textures by full path, with loading on one worker thread.
//
// Keys are full paths (FileUtils::fullPathForFilename). Asynchronous loads read and decode on the
// loader thread; the texture is made on the main thread during a scheduler update, and then
// every callback waiting for that file runs, in request order, exactly once, with the texture or
// with nullptr when the file cannot be read or decoded. A file that is already cached is
// answered the same way (at the next update, never inside addImageAsync).
//
// Requesters: a callback registered with a requester can be dropped with
// unbindAllImageAsyncForRequester; the decode may still finish and fill the cache.
//
// Main thread only. The loader thread is registered with the autorelease pools while it runs and
// is stopped and joined when the cache is destroyed.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/CCRef.h"

namespace cocos2d {

class Image;
class Scheduler;
class Texture2D;

class TextureCache : public Ref {
public:
    TextureCache();
    ~TextureCache() override;

    // Loads synchronously; null (logged) when the file is missing or cannot be decoded.
    Texture2D* addImage(const std::string& filepath);
    // Adds an image under a key (the image's pixels are uploaded).
    Texture2D* addImage(Image* image, const std::string& key);

    void addImageAsync(const std::string& filepath, const std::function<void(Texture2D*)>& callback);
    void addImageAsync(const std::string& filepath, const std::function<void(Texture2D*)>& callback,
                       const void* requester);
    // Drops every pending callback of the file.
    void unbindImageAsync(const std::string& filepath);
    void unbindAllImageAsync();
    void unbindAllImageAsyncForRequester(const void* requester);

    // The key as given first, then its full path.
    Texture2D* getTextureForKey(const std::string& key) const;
    void removeTextureForKey(const std::string& key);
    void removeTexture(Texture2D* texture);
    // Releases the textures held by nobody but the cache.
    void removeUnusedTextures();
    void removeAllTextures();

    // [hook] Number of cached textures, and of files waiting for the loader or the main thread.
    size_t getTextureCount() const { return _textures.size(); }
    size_t getPendingAsyncCount() const;

    std::string getCachedTextureInfo() const;

private:
    struct Waiter {
        std::function<void(Texture2D*)> callback;
        const void* requester;
    };
    struct Pending {
        std::vector<Waiter> waiters; // in request order
        bool queued = false;         // handed to the loader, not answered yet
    };

    void startLoader();
    void loaderMain();
    void finishLoad(const std::string& fullPath, Image* image);
    void answerLater(const std::string& fullPath);
    Texture2D* insertTexture(const std::string& key, Image* image);

    // The scheduler that runs completions (retained: the cache may outlive the director's
    // instance pointer while the director is torn down).
    Scheduler* _scheduler;
    std::unordered_map<std::string, Texture2D*> _textures; // retained

    // Main-thread bookkeeping of asynchronous requests, by full path.
    std::unordered_map<std::string, Pending> _pending;

    // Loader thread.
    std::thread _loader;
    mutable std::mutex _loaderMutex;
    std::condition_variable _loaderWake;
    std::deque<std::string> _loaderQueue;
    bool _loaderStop = false;
};

} // namespace cocos2d
