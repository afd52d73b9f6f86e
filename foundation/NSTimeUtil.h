// Date and time texts, a seconds timestamp and a sleep.
//
// Date-time fields, where a function takes or fills them, are six ints in the order year,
// month (1 to 12), day, hour, minute, second. Three text forms are used across the program:
//   full date-time  "2017-07-22 09:05:00"  (getCurrentDateTime, formatDateTime; parseDateTime reads it)
//   file time       "2017.7.22 9:5:0"      (getFileCreationTime: UTC, no leading zeros)
//   timestamp       "1500714300"           (getTimestampString: seconds since 1970, low 32 bits)
// None of these functions keeps state; all may run on any thread.
#pragma once

#include <string>

// The current local date and time as a full date-time text.
std::string getCurrentDateTime();

// The creation (birth) time of a file, in UTC, as a file-time text. Where the file system keeps
// no birth time, the last modification time is used. An empty path gives ""; a missing file
// gives getCurrentDateTime() (note: the other text form, and local time).
std::string getFileCreationTime(const std::string& path);

// The six fields as a full date-time text; the year is written as it is, the others with at
// least two digits.
std::string formatDateTime(const int fields[6]);

// Reads a full date-time text by position (characters 0-3, 5-6, 8-9, 11-12, 14-15, 17-18; the
// separators are not examined). False, with the fields untouched, for a text under 19 characters.
bool parseDateTime(const std::string& text, int fields[6]);

// 28 to 31 for months 1 to 12 (Gregorian leap years), 0 for any other month number.
int getDaysInMonth(int year, int month);

// The current calendar time in whole seconds since 1970-01-01 00:00 UTC, its low 32 bits written
// as an unsigned decimal number. Used in file names.
std::string getTimestampString();

// Blocks the calling thread for seconds + nanoseconds (the whole duration, resumed after signals).
void sleepFor(unsigned int seconds, unsigned int nanoseconds);
