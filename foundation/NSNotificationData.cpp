#include "NSNotificationData.h"

namespace NSUI
{

NSNotificationData::~NSNotificationData()
{
    dropUserData();
    CC_SAFE_RELEASE(object);
}

NSNotificationData* NSNotificationData::create()
{
    auto* data = new NSNotificationData();
    data->autorelease();
    return data;
}

void NSNotificationData::setObject(cocos2d::Ref* newObject)
{
    if (!newObject || newObject == object)
        return;
    newObject->retain();
    CC_SAFE_RELEASE(object);
    object = newObject;
}

void NSNotificationData::setUserData(void* data, UserDataDeleter deleter)
{
    if (data != userData)
        dropUserData();
    userData = data;
    _userDataDeleter = data ? std::move(deleter) : nullptr;
}

void* NSNotificationData::takeUserData()
{
    void* data = userData;
    userData = nullptr;
    _userDataDeleter = nullptr;
    return data;
}

void NSNotificationData::dropUserData()
{
    if (userData && _userDataDeleter)
        _userDataDeleter(userData);
    userData = nullptr;
    _userDataDeleter = nullptr;
}

bool NSNotificationData::reset()
{
    text.clear();
    intValue = 0;
    floatValue = 0.0f;
    intValue2 = 0;
    uintValue = 0;
    CC_SAFE_RELEASE_NULL(object);
    dropUserData();
    return true;
}

} // namespace NSUI
