// The machine-dependent part of the title block: local time and login name.
#include "datafile/DataFileWriter.h"
#include "platform/System.h"

TitleStamp CurrentTitleStamp() {
    TitleStamp stamp;
    const std::tm local = platform::LocalTime(std::time(nullptr));
    if (local.tm_mday != 0) {
        stamp.localTime.year = local.tm_year + 1900;
        stamp.localTime.month = local.tm_mon + 1;
        stamp.localTime.day = local.tm_mday;
        stamp.localTime.hour = local.tm_hour;
        stamp.localTime.minute = local.tm_min;
        stamp.localTime.second = local.tm_sec;
    }
    stamp.user = platform::LoginName();
    return stamp;
}
