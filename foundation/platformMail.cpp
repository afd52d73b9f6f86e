#include "platformMail.h"

std::string sendPlatformMail(const std::string&, const std::string&, const std::string&)
{
    return "";
}
