#include "event/CCEventListenerTouch.h"

namespace cocos2d {

const EventListener::ListenerID EventListenerTouchOneByOne::LISTENER_ID = "__cc_touch_one_by_one";
const EventListener::ListenerID EventListenerTouchAllAtOnce::LISTENER_ID = "__cc_touch_all_at_once";

} // namespace cocos2d
