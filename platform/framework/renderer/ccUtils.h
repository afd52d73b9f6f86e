// utils::captureScreen: saves a rectangle of the rendered window to a PNG or JPEG file.
#pragma once

#include <functional>
#include <string>

namespace cocos2d {
namespace utils {

// Captures (x, y, w, h) (design units, origin bottom-left; w or h 0 means the whole window) after
// the current frame has been rendered and before the buffers are swapped. The rectangle is scaled
// to framebuffer pixels and clipped to it; the file's first row is the top. The format follows
// the extension: ".png", or ".jpg"/".jpeg" (quality 90). A relative name is taken under the
// writable path; parent folders must exist. done runs exactly once, on the main thread, with the
// outcome and the full path; false for a write failure, an empty rectangle, an unknown extension
// or headless mode (no pixels), reported at the end of the next frame.
void captureScreen(const std::function<void(bool succeeded, const std::string& file)>& done,
                   const std::string& file, int x, int y, int w, int h);
// The whole window.
void captureScreen(const std::function<void(bool succeeded, const std::string& file)>& done,
                   const std::string& file);

} // namespace utils
} // namespace cocos2d
