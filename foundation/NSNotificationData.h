// The reference-counted payload of one notification. Posters fill the public fields directly;
// observers read them in their callback. The centre retains the payload once per pending delivery,
// so it lives exactly as long as somebody still has to read it.
//
// Ownership of what a payload carries:
// - object: retained while held (setObject), released by reset and the destructor.
// - userData: an untyped pointer. Set with a deleter, the payload owns it and frees it when the
//   payload goes away, whoever observed it, also when nobody did; an observer that keeps it takes
//   it over with takeUserData. Set without a deleter it is only borrowed.
#pragma once

#include "cocos2d.h"

#include <cstdint>
#include <functional>
#include <string>

namespace NSUI
{

class NSNotificationData : public cocos2d::Ref
{
public:
    using UserDataDeleter = std::function<void(void*)>;

    NSNotificationData() = default;
    ~NSNotificationData() override;

    // A new autoreleased payload.
    static NSNotificationData* create();

    // Retains a non-null object and releases the one held before; setting the held object again
    // keeps it. A null object changes nothing.
    void setObject(cocos2d::Ref* newObject);
    // Stores a pointer; with a deleter the payload owns it (frees it when replaced or destroyed).
    void setUserData(void* data, UserDataDeleter deleter = nullptr);
    // Hands the pointer over to the caller: the payload no longer frees it.
    void* takeUserData();

    // Back to the state of a new payload (the held object released, owned user data freed).
    virtual bool reset();

    std::string text; // often a flat JSON text
    int intValue = 0;
    float floatValue = 0.0f;
    int intValue2 = 0;      // a 32-bit hash (slice file path, series key)
    uint32_t uintValue = 0; // often a Ref id
    cocos2d::Ref* object = nullptr;
    void* userData = nullptr;

private:
    void dropUserData();

    UserDataDeleter _userDataDeleter;
};

} // namespace NSUI
