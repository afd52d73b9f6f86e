#include "isObject.h"

namespace isImageSDK {

bool isObject::init()
{
    m_tag = -1;
    m_name.clear();
    return true;
}

} // namespace isImageSDK
