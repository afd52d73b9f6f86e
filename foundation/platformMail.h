// The platform's mail operation: hands a mail (subject, body and a third text: the flat JSON of
// the files to attach with their "number", or "") to the platform's mail composer and answers with
// a text. kNoMailAccount means that no mail account is set up and "not support" that the platform
// cannot compose mail; callers show nothing for any other answer. On this desktop it composes
// nothing and answers "".
#pragma once

#include <string>

inline constexpr const char* kNoMailAccount = "NoValidMailConfig";

std::string sendPlatformMail(const std::string& subject, const std::string& body, const std::string& files);
