#include "renderer/ccUtils.h"

#include "base/CCDirector.h"
#include "renderer/CCRenderer.h"

namespace cocos2d {
namespace utils {

void captureScreen(const std::function<void(bool, const std::string&)>& done, const std::string& file, int x, int y,
                   int w, int h)
{
    Director::getInstance()->getRenderer()->addCaptureRequest(done, file,
                                                              Rect(float(x), float(y), float(w), float(h)));
}

void captureScreen(const std::function<void(bool, const std::string&)>& done, const std::string& file)
{
    captureScreen(done, file, 0, 0, 0, 0);
}

} // namespace utils
} // namespace cocos2d
