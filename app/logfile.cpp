#include "app/logfile.h"

#include <cstdio>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

namespace {
bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

bool same_day(std::time_t a, std::time_t b)
{
    std::tm x {}, y {};
    ::localtime_r(&a, &x);
    ::localtime_r(&b, &y);
    return x.tm_year == y.tm_year && x.tm_yday == y.tm_yday;
}

void move_unless_taken(const std::string &from, const std::string &to)
{
    if (exists(from) && !exists(to))
        std::rename(from.c_str(), to.c_str());
}
} // namespace

void LogFile::rotate(const std::string &path)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0 || same_day(info.st_mtime, std::time(nullptr)))
        return;
    for (int n = OLDEST_GENERATION; n >= 1; --n)
        move_unless_taken(path + std::to_string(n), path + std::to_string(n + 1));
    std::remove((path + std::to_string(OLDEST_GENERATION + 1)).c_str());
    move_unless_taken(path, path + "1");
}

bool LogFile::append(const std::string &path, const std::string &message)
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S] ", &local);
    const std::string line = stamp + message + '\n';

    std::FILE *file = std::fopen(path.c_str(), "a");
    if (!file)
        return false;
    std::fwrite(line.data(), 1, line.size(), file);
    return std::fclose(file) == 0;
}
