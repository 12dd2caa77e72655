// Helpers shared by the ZIP tests: a reader that closes itself, file times as numbers, and the
// directory of the archives that the fixture script made.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "engine/zip/zip_reader.h"
#include "tests/support/test_files.h"

struct ReaderCloser {
    void operator()(ZipReader* reader) const { closeReader(reader); }
};
typedef std::unique_ptr<ZipReader, ReaderCloser> ReaderHandle;

inline uint64_t FileTimeValue(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A UTC calendar time as a FILETIME count.
inline uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME calendar = {};
    calendar.wYear = static_cast<WORD>(year);
    calendar.wMonth = static_cast<WORD>(month);
    calendar.wDay = static_cast<WORD>(day);
    calendar.wHour = static_cast<WORD>(hour);
    calendar.wMinute = static_cast<WORD>(minute);
    calendar.wSecond = static_cast<WORD>(second);
    FILETIME time = {};
    SystemTimeToFileTime(&calendar, &time);
    return FileTimeValue(time);
}

// The tests run at UTC+9 without daylight saving (TZ=JST-9, a POSIX zone that needs no time
// zone data), which ctest sets, so that a DOS time that is not converted from local time shows.
inline long TimeZoneBiasMinutes()
{
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    return zone.Bias;
}
const long kTestZoneBiasMinutes = -540;

struct FileTimes {
    uint64_t creation = 0;
    uint64_t access = 0;
    uint64_t write = 0;
};

inline FileTimes TimesOfFile(const std::string& path)
{
    FileTimes times;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME creation, access, write;
    if (file != INVALID_HANDLE_VALUE && GetFileTime(file, &creation, &access, &write)) {
        times.creation = FileTimeValue(creation);
        times.access = FileTimeValue(access);
        times.write = FileTimeValue(write);
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return times;
}

// Where tests/support/make_zip_fixtures.sh left its archives (a ctest fixture step).
inline std::string ZipFixtureDirectory()
{
    return BinaryDirectory() + "..\\zip-fixtures\\";
}
