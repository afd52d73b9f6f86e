#include "renderer/CCTextureCache.h"

#include <algorithm>
#include <memory>
#include <sstream>

#include "base/CCAutoreleasePool.h"
#include "base/CCDirector.h"
#include "base/CCScheduler.h"
#include "base/ccMacros.h"
#include "platform/CCFileUtils.h"
#include "renderer/CCImage.h"
#include "renderer/CCTexture2D.h"

namespace cocos2d {

TextureCache::TextureCache() : _scheduler(Director::getInstance()->getScheduler())
{
    _scheduler->retain();
}

TextureCache::~TextureCache()
{
    {
        std::lock_guard<std::mutex> lock(_loaderMutex);
        _loaderStop = true;
        _loaderQueue.clear();
    }
    _loaderWake.notify_all();
    if (_loader.joinable()) {
        _loader.join();
    }
    // Completions queued for the main thread die with the cache (their images are released).
    _scheduler->removeFunctionInCocosThread(this);
    removeAllTextures();
    _scheduler->release();
}

Texture2D* TextureCache::insertTexture(const std::string& key, Image* image)
{
    auto* texture = new (std::nothrow) Texture2D();
    if (!texture || !texture->initWithImage(image)) {
        delete texture;
        return nullptr;
    }
    texture->setPath(key);
    _textures.emplace(key, texture); // the cache holds the creation reference
    return texture;
}

Texture2D* TextureCache::addImage(const std::string& filepath)
{
    const std::string fullPath = FileUtils::getInstance()->fullPathForFilename(filepath);
    if (fullPath.empty()) {
        return nullptr;
    }
    auto it = _textures.find(fullPath);
    if (it != _textures.end()) {
        return it->second;
    }
    Image image;
    if (!image.initWithImageFile(fullPath)) {
        return nullptr;
    }
    Texture2D* texture = insertTexture(fullPath, &image);
    if (!texture) {
        log("TextureCache: cannot create a texture from %s", fullPath.c_str());
    }
    return texture;
}

Texture2D* TextureCache::addImage(Image* image, const std::string& key)
{
    if (!image || key.empty()) {
        return nullptr;
    }
    auto it = _textures.find(key);
    if (it != _textures.end()) {
        return it->second;
    }
    return insertTexture(key, image);
}

void TextureCache::addImageAsync(const std::string& filepath, const std::function<void(Texture2D*)>& callback)
{
    addImageAsync(filepath, callback, nullptr);
}

void TextureCache::addImageAsync(const std::string& filepath, const std::function<void(Texture2D*)>& callback,
                                 const void* requester)
{
    std::string fullPath = FileUtils::getInstance()->fullPathForFilename(filepath);
    const bool missing = fullPath.empty();
    if (missing) {
        // Still answered once (with nullptr), under the name as given.
        fullPath = filepath;
    }
    Pending& pending = _pending[fullPath];
    pending.waiters.push_back({callback, requester});
    if (pending.queued) {
        return; // one decode serves every request
    }
    pending.queued = true;
    if (missing || _textures.count(fullPath) != 0) {
        answerLater(fullPath);
        return;
    }
    startLoader();
    {
        std::lock_guard<std::mutex> lock(_loaderMutex);
        _loaderQueue.push_back(fullPath);
    }
    _loaderWake.notify_one();
}

void TextureCache::answerLater(const std::string& fullPath)
{
    _scheduler->performFunctionInCocosThread([this, fullPath] { finishLoad(fullPath, nullptr); }, this);
}

void TextureCache::startLoader()
{
    if (!_loader.joinable()) {
        // Ended by the destructor (the director's, at shutdown): stop flag, then a join.
        _loader = std::thread(&TextureCache::loaderMain, this);
    }
}

void TextureCache::loaderMain()
{
    PoolManager::getInstance()->addThread(std::this_thread::get_id());
    Scheduler* scheduler = _scheduler;
    for (;;) {
        std::string path;
        {
            std::unique_lock<std::mutex> lock(_loaderMutex);
            _loaderWake.wait(lock, [this] { return _loaderStop || !_loaderQueue.empty(); });
            if (_loaderStop) {
                break;
            }
            path = std::move(_loaderQueue.front());
            _loaderQueue.pop_front();
        }
        auto* raw = new (std::nothrow) Image();
        if (raw && !raw->initWithImageFile(path)) {
            raw->release();
            raw = nullptr;
        }
        // Released with the completion, also when the completion is dropped unrun.
        std::shared_ptr<Image> image(raw, [](Image* i) {
            if (i) {
                i->release();
            }
        });
        scheduler->performFunctionInCocosThread([this, path, image] { finishLoad(path, image.get()); }, this);
    }
    PoolManager::getInstance()->removeThread(std::this_thread::get_id());
}

void TextureCache::finishLoad(const std::string& fullPath, Image* image)
{
    Texture2D* texture = nullptr;
    auto cached = _textures.find(fullPath);
    if (cached != _textures.end()) {
        texture = cached->second;
    } else if (image) {
        texture = insertTexture(fullPath, image);
    }
    std::vector<Waiter> waiters;
    auto it = _pending.find(fullPath);
    if (it != _pending.end()) {
        waiters = std::move(it->second.waiters);
        _pending.erase(it);
    }
    if (texture) {
        texture->retain(); // a callback may remove it from the cache
    }
    for (Waiter& w : waiters) {
        if (w.callback) {
            w.callback(texture);
        }
    }
    if (texture) {
        texture->release();
    }
}

void TextureCache::unbindImageAsync(const std::string& filepath)
{
    auto it = _pending.find(filepath);
    if (it == _pending.end()) {
        it = _pending.find(FileUtils::getInstance()->fullPathForFilename(filepath));
    }
    if (it != _pending.end()) {
        it->second.waiters.clear();
    }
}

void TextureCache::unbindAllImageAsync()
{
    for (auto& entry : _pending) {
        entry.second.waiters.clear();
    }
}

void TextureCache::unbindAllImageAsyncForRequester(const void* requester)
{
    for (auto& entry : _pending) {
        auto& waiters = entry.second.waiters;
        waiters.erase(std::remove_if(waiters.begin(), waiters.end(),
                                     [requester](const Waiter& w) { return w.requester == requester; }),
                      waiters.end());
    }
}

size_t TextureCache::getPendingAsyncCount() const
{
    return _pending.size();
}

Texture2D* TextureCache::getTextureForKey(const std::string& key) const
{
    auto it = _textures.find(key);
    if (it == _textures.end()) {
        it = _textures.find(FileUtils::getInstance()->fullPathForFilename(key));
    }
    return it == _textures.end() ? nullptr : it->second;
}

void TextureCache::removeTextureForKey(const std::string& key)
{
    auto it = _textures.find(key);
    if (it == _textures.end()) {
        it = _textures.find(FileUtils::getInstance()->fullPathForFilename(key));
    }
    if (it != _textures.end()) {
        it->second->release();
        _textures.erase(it);
    }
}

void TextureCache::removeTexture(Texture2D* texture)
{
    for (auto it = _textures.begin(); it != _textures.end(); ++it) {
        if (it->second == texture) {
            texture->release();
            _textures.erase(it);
            return;
        }
    }
}

void TextureCache::removeUnusedTextures()
{
    for (auto it = _textures.begin(); it != _textures.end();) {
        if (it->second->getReferenceCount() == 1) {
            it->second->release();
            it = _textures.erase(it);
        } else {
            ++it;
        }
    }
}

void TextureCache::removeAllTextures()
{
    for (auto& entry : _textures) {
        entry.second->release();
    }
    _textures.clear();
}

std::string TextureCache::getCachedTextureInfo() const
{
    std::ostringstream out;
    for (const auto& entry : _textures) {
        out << "\"" << entry.first << "\" rc=" << entry.second->getReferenceCount() << " "
            << entry.second->getPixelsWide() << " x " << entry.second->getPixelsHigh() << "\n";
    }
    out << "TextureCache: " << _textures.size() << " textures";
    return out.str();
}

} // namespace cocos2d
