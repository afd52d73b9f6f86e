#include "NSTimeUtil.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>

std::string getCurrentDateTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string getFileCreationTime(const std::string& path)
{
    if (path.empty())
        return std::string();
    struct statx info {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return getCurrentDateTime();
    const std::time_t seconds = static_cast<std::time_t>(
        (info.stx_mask & STATX_BTIME) ? info.stx_btime.tv_sec : info.stx_mtime.tv_sec);
    std::tm utc{};
    if (!gmtime_r(&seconds, &utc))
        return getCurrentDateTime();
    char text[64];
    std::snprintf(text, sizeof text, "%i.%i.%i %i:%i:%i", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string formatDateTime(const int fields[6])
{
    auto twoDigits = [](int value) {
        std::string text = std::to_string(value);
        if (text.size() < 2)
            text.insert(0, "0");
        return text;
    };
    return std::to_string(fields[0]) + "-" + twoDigits(fields[1]) + "-" + twoDigits(fields[2]) + " " +
           twoDigits(fields[3]) + ":" + twoDigits(fields[4]) + ":" + twoDigits(fields[5]);
}

bool parseDateTime(const std::string& text, int fields[6])
{
    if (text.size() < 19)
        return false;
    static const size_t offsets[6] = {0, 5, 8, 11, 14, 17};
    static const size_t lengths[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0; i < 6; ++i)
        fields[i] = std::atoi(text.substr(offsets[i], lengths[i]).c_str());
    return true;
}

int getDaysInMonth(int year, int month)
{
    switch (month) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12:
        return 31;
    case 4: case 6: case 9: case 11:
        return 30;
    case 2:
        return ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0) ? 29 : 28;
    default:
        return 0;
    }
}

std::string getTimestampString()
{
    const auto seconds = static_cast<unsigned long long>(std::time(nullptr));
    return std::to_string(static_cast<unsigned int>(seconds & 0xffffffffu));
}

void sleepFor(unsigned int seconds, unsigned int nanoseconds)
{
    timespec wait{};
    wait.tv_sec = static_cast<std::time_t>(seconds) + static_cast<std::time_t>(nanoseconds / 1000000000u);
    wait.tv_nsec = static_cast<long>(nanoseconds % 1000000000u);
    timespec left{};
    while (nanosleep(&wait, &left) != 0 && errno == EINTR)
        wait = left;
}
