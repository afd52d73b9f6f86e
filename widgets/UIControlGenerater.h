// UIControlGenerater: the image-loading mixin. Image views and sprites receive their pictures
// asynchronously through the texture cache, one file at a time: requests wait in a first-in
// first-out queue, and the host calls processNextRequest from a periodic tick (the base layout
// every 0.05 s) to start the next one when none is in flight. Files already in the texture cache
// are applied at once by the "...ToFit" calls.
//
// Every queued target is retained until its picture is applied or dropped. Destroying the loader
// releases them and drops its pending callbacks from the texture cache.
//
// Main thread only; the texture cache decodes on its own thread and calls back on the main thread.
#pragma once

#include "cocos2d.h"
#include "ui/CocosGUI.h"

#include <deque>
#include <string>

namespace NSUI
{

class NSTextField;

struct ImageLoadRequest
{
    enum Mode
    {
        AsIs = 0,   // the picture as it is
        Fit = 1,    // scaled to fit into the box
        Placed = 2, // position, anchor, texture rect, box and cap insets applied
    };

    std::string file;
    cocos2d::Node* target = nullptr; // retained while queued or in flight
    bool isImageView = true;         // false: a cocos2d::Sprite
    int mode = AsIs;
    cocos2d::Vec2 position;
    cocos2d::Vec2 anchorPoint;
    cocos2d::Rect textureRect; // zero: the whole texture
    cocos2d::Size box;
    cocos2d::Rect capInsets; // zero: no nine-slice scaling
    float scaleFactor = 1.0f; // horizontal extra factor of sprites in Fit mode
};

class UIControlGenerater
{
public:
    UIControlGenerater() = default;
    virtual ~UIControlGenerater();
    UIControlGenerater(const UIControlGenerater&) = delete;
    UIControlGenerater& operator=(const UIControlGenerater&) = delete;

    // Loads the file into the view and scales it to fit the box (uniform scale).
    void loadImageToFit(cocos2d::ui::ImageView* view, std::string file, cocos2d::Size box);
    // Loads the file into the sprite and scales it to fit the box: horizontal scale fit x factor,
    // vertical scale fit.
    void loadSpriteToFit(cocos2d::Sprite* sprite, std::string file, cocos2d::Size box, float factor);
    // Always queued, even when the texture is cached.
    void loadImage(cocos2d::ui::ImageView* view, std::string file);
    // Queues a fully described request (mode Placed and the others); the target is retained.
    void queueRequest(const ImageLoadRequest& request);

    // A text field of 150 by fontSize with the given placeholder, position and anchor.
    NSTextField* createTextField(std::string placeholder, cocos2d::Vec2 position, int fontSize,
                                 cocos2d::Vec2 anchor);

    // Starts the next queued load when none is in flight.
    void processNextRequest();
    // The texture cache's answer to the request in flight; null when the file could not be read.
    void onTextureLoaded(cocos2d::Texture2D* texture);

    bool isLoading() const { return currentRequest.target != nullptr; }
    size_t pendingRequests() const { return requestQueue.size(); }

protected:
    std::deque<ImageLoadRequest> requestQueue;
    ImageLoadRequest currentRequest;

private:
    bool asyncRequested = false;
    void applyRequest(const ImageLoadRequest& request, cocos2d::Texture2D* texture);
};

} // namespace NSUI
