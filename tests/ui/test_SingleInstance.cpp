#include "app/ui/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

bool WaitFor(const std::function<bool()>& condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

} // namespace

// A later start ends itself and has the first show its window, with the activation token the later start
// got from the desktop; what is no token (spaces, line breaks, control characters, too long) is not passed.
TEST(TSingleInstance, SecondStartAsksTheFirstToShowWithItsTokenAndEnds)
{
    QTemporaryDir dir;
    const QString key = QDir(dir.path()).filePath("instance.socket");
    TSingleInstance first(key);
    ASSERT_TRUE(first.IsFirst());
    std::vector<QByteArray> shows;
    first.OnShowRequest = [&](const QByteArray& token) { shows.push_back(token); };

    const std::vector<std::pair<QByteArray, QByteArray>> starts = {
        {"", ""},
        {"5b6a4963-77f6-419d-9baa-6fd0c6a4c41b_TIME0", "5b6a4963-77f6-419d-9baa-6fd0c6a4c41b_TIME0"},
        {"two words", ""},
        {"line\nshow", ""},
        {QByteArray("nul\0x", 5), ""},
        {QByteArray(TSingleInstance::kMaxToken + 1, 'a'), ""},
    };
    for (const auto& [given, passed] : starts) {
        SCOPED_TRACE(given.left(40).toStdString());
        {
            TSingleInstance later(key, {}, given);
            EXPECT_FALSE(later.IsFirst());
        }
        const std::size_t before = shows.size();
        ASSERT_TRUE(WaitFor([&] { return shows.size() > before; }));
        EXPECT_EQ(shows.back(), passed);
    }
    EXPECT_EQ(shows.size(), starts.size()) << "one show per start";
}

TEST(TSingleInstance, VolumesOfALaterStartReachTheFirstInTheirOrderBeforeItShows)
{
    QTemporaryDir dir;
    const QString key = QDir(dir.path()).filePath("instance.socket");
    TSingleInstance first(key);
    ASSERT_TRUE(first.IsFirst());
    std::vector<std::string> events;
    first.OnOpenRequest = [&](const QString& volume) { events.push_back("open " + volume.toStdString()); };
    first.OnShowRequest = [&](const QByteArray&) { events.push_back("show"); };

    // Junk from something else on the socket is passed over, and an endless line is cut off.
    QLocalSocket stranger;
    stranger.connectToServer(key);
    ASSERT_TRUE(stranger.waitForConnected(2000));
    stranger.write("hello\nopen http://example.org/DCIM\nopen \n" + QByteArray(100000, 'x'));
    stranger.waitForBytesWritten(2000);
    EXPECT_TRUE(WaitFor([&] { return stranger.state() == QLocalSocket::UnconnectedState; }))
        << "the endless line ends the connection";
    EXPECT_TRUE(events.empty());

    {
        TSingleInstance second(key, {"/media/user/EOS DIGITAL", "/tmp/odd\nname %41"});
        EXPECT_FALSE(second.IsFirst());
    }
    EXPECT_TRUE(WaitFor([&] { return events.size() == 3; }));
    EXPECT_EQ(events,
              (std::vector<std::string>{"open /media/user/EOS DIGITAL", "open /tmp/odd\nname %41", "show"}));
}

TEST(TSingleInstance, SocketLeftByACrashedInstanceDoesNotStopTheStart)
{
    QTemporaryDir dir;
    const QString key = QDir(dir.path()).filePath("stale.socket");
    // A bound socket that nobody listens on any more, as a killed program leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = key.toLocal8Bit();
    ASSERT_LT(static_cast<size_t>(path.size()), sizeof(address.sun_path));
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(key));

    TSingleInstance instance(key);
    EXPECT_TRUE(instance.IsFirst());
    TSingleInstance later(key);
    EXPECT_FALSE(later.IsFirst());
}
