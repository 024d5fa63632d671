// The client's decisions that run on a clock or on /proc: the daily restart and the
// uptime that gates the resolution check.
#include "kestrovaclient.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using testsupport::LogCapture;

TEST(KestrovaClient, DailyRestartNeedsADayOfRunningAndTheEarlyMorning)
{
    constexpr qint64 hour = 3600000;
    const struct {
        const char* name;
        qint64 ranFor;
        int localHour;
        bool due;
    } cases[] = {
        {"23 hours at 04:30", 23 * hour, 4, false},
        {"exactly 24 hours at 04:00", 24 * hour, 4, false},
        {"just over 24 hours at 04:00", 24 * hour + 1, 4, true},
        {"over 24 hours at 05:59", 30 * hour, 5, true},
        {"over 24 hours at 06:00", 30 * hour, 6, false},
        {"over 24 hours at 03:59", 30 * hour, 3, false},
        {"a week at midnight", 168 * hour, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KestrovaClient::isDailyRestartDue(c.ranFor, c.localHour), c.due);
    }
}

TEST(KestrovaClient, UptimeFromProc)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        const char* content; // null: no file
        qint64 uptime;
        std::vector<std::string> log;
    } cases[] = {
        {"early after boot", "120.45 230.12\n", 120, {}},
        {"whole seconds are truncated", "180.99 1.00\n", 180, {}},
        {"later", "181.00 1.00\n", 181, {}},
        {"missing file", nullptr, -1, {"E:Failed to open /proc/uptime"}},
        {"garbage", "up since Monday\n", -1, {"E:Failed to parse uptime from /proc/uptime"}},
        {"empty file", "", -1, {"E:Failed to parse uptime from /proc/uptime"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        if (c.content) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.content);
        }
        LogCapture log;
        EXPECT_EQ(KestrovaClient::readUptime(path), c.uptime);
        EXPECT_EQ(log.summary(), c.log);
    }
    EXPECT_GE(KestrovaClient::readUptime(), 0) << "the real /proc/uptime reads";
}
