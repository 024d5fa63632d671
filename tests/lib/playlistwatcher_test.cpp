// The playlist file under a real file system watcher: written in place, replaced, removed,
// created again, with other files coming and going next to it.
#include "playlistwatcher.h"

#include "logcapture.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

using testsupport::LogCapture;
using testsupport::replaceFile;
using testsupport::writeFile;
using testsupport::Verbosity;

namespace {

constexpr int kTimeoutMs = 10000;


// One watcher through a series of changes. Each change must come through as exactly one
// notification (or none), and the next change shows that the watcher followed: the file
// once it is there, the folder while it is missing.
TEST(PlaylistWatcher, FollowsThePlaylistFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("playlist.json"));
    const std::vector<std::string> changedLine = {"I:Playlist " + path.toStdString() + " changed!"};

    Verbosity verbose(1);
    PlaylistWatcher watcher;
    watcher.watchFile(path);
    QSignalSpy spy(&watcher, &PlaylistWatcher::playlistFileChanged);
    ASSERT_TRUE(spy.isValid());

    // Changes that must not notify show up here, so the test knows they have been seen.
    QFileSystemWatcher observer({dir.path()});
    QSignalSpy observed(&observer, &QFileSystemWatcher::directoryChanged);

    enum Action { Write, Replace, Remove, WriteOther, RemoveOther };
    struct Step {
        const char* name;
        Action action;
        int notifications;
        std::vector<std::string> log;
    };
    const Step steps[] = {
        {"another file appears while the playlist is missing", WriteOther, 0, {}},
        {"the playlist appears", Write, 1, {}},
        {"written in place", Write, 1, changedLine},
        {"written in place again", Write, 1, changedLine},
        {"replaced", Replace, 1, changedLine},
        {"the new file written in place", Write, 1, changedLine},
        {"removed", Remove, 1, changedLine},
        {"another file goes while the playlist is missing", RemoveOther, 0, {}},
        {"another file appears again", WriteOther, 0, {}},
        {"created again", Write, 1, {}},
        {"replaced after it came back", Replace, 1, changedLine},
        {"written in place at the end", Write, 1, changedLine},
    };
    const QString other = dir.filePath(QStringLiteral("other.json"));
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        spy.clear();
        observed.clear();
        LogCapture capture;
        switch (step.action) {
        case Write:
            writeFile(path, "{}");
            break;
        case Replace:
            replaceFile(path, "{}");
            break;
        case Remove:
            ASSERT_TRUE(QFile::remove(path));
            break;
        case WriteOther:
            writeFile(other, "{}");
            break;
        case RemoveOther:
            ASSERT_TRUE(QFile::remove(other));
            break;
        }
        if (step.notifications > 0)
            ASSERT_TRUE(spy.wait(kTimeoutMs));
        else
            ASSERT_TRUE(observed.wait(kTimeoutMs));
        QCoreApplication::processEvents();
        EXPECT_EQ(spy.count(), step.notifications);
        EXPECT_EQ(capture.summary(), step.log);
    }
}

TEST(PlaylistWatcher, WatchingTheSameFileTwiceChangesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("playlist.json"));
    writeFile(path, "{}");
    PlaylistWatcher watcher;
    QSignalSpy spy(&watcher, &PlaylistWatcher::playlistFileChanged);
    LogCapture capture;
    watcher.watchFile(path);
    watcher.watchFile(path);
    EXPECT_TRUE(capture.summary().empty());

    writeFile(path, "{ }");
    ASSERT_TRUE(spy.wait(kTimeoutMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(spy.count(), 1);
}

TEST(PlaylistWatcher, EmptyPathIsRefused)
{
    PlaylistWatcher watcher;
    LogCapture capture;
    watcher.watchFile(QString());
    EXPECT_EQ(capture.summary(),
              std::vector<std::string>{"W:void PlaylistWatcher::watchFile(const QString&) Path is empty"});
}

} // namespace

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
