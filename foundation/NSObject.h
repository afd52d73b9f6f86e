// The bare reference-counted root of the toolkit's own plain objects (thread requests, the import
// service): a cocos2d::Ref with nothing added.
#pragma once

#include "cocos2d.h"

namespace NSUI
{

class NSObject : public cocos2d::Ref
{
public:
    NSObject() = default;
};

} // namespace NSUI
