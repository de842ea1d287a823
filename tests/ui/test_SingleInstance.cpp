#include "app/ui/SingleInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

TEST(TSingleInstance, SecondStartAsksTheFirstToShowAndEnds)
{
    QTemporaryDir dir;
    const QString key = QDir(dir.path()).filePath("instance.socket");
    TSingleInstance first(key);
    ASSERT_TRUE(first.IsFirst());
    int shows = 0;
    first.OnShowRequest = [&] { ++shows; };

    {
        TSingleInstance second(key);
        EXPECT_FALSE(second.IsFirst());
    }
    EXPECT_TRUE(WaitFor([&] { return shows == 1; }));

    TSingleInstance third(key);
    EXPECT_FALSE(third.IsFirst());
    EXPECT_TRUE(WaitFor([&] { return shows == 2; }));
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
