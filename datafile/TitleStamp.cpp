// The machine-dependent part of the title block: local time and login name.
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <vector>

#include "datafile/DataFileWriter.h"

namespace {

std::string LoginName() {
    char name[256];
    if (getlogin_r(name, sizeof name) == 0 && name[0] != '\0') {
        return name;
    }
    // No controlling terminal (a desktop session, a service): the account instead.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name) {
        return found->pw_name;
    }
    return {};
}

}  // namespace

TitleStamp CurrentTitleStamp() {
    TitleStamp stamp;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) {
        stamp.localTime.year = local.tm_year + 1900;
        stamp.localTime.month = local.tm_mon + 1;
        stamp.localTime.day = local.tm_mday;
        stamp.localTime.hour = local.tm_hour;
        stamp.localTime.minute = local.tm_min;
        stamp.localTime.second = local.tm_sec;
    }
    stamp.user = LoginName();
    return stamp;
}
