#include "link/port_name.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace kovra {
namespace {

#ifndef _WIN32
TEST(PortName, ComNamesAndDevices)
{
    struct Case { const char* name; const char* path; };
    const Case cases[] = {
        {"com1", "/dev/ttyS0"},
        {"COM3", "/dev/ttyS2"},
        {"Com12", "/dev/ttyS11"},
        {" com2 ", "/dev/ttyS1"},
        {"com0", "/dev/com0"},
        {"com", "/dev/com"},
        {"com1a", "/dev/com1a"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/ttyACM0", "/dev/ttyACM0"},
        {"/dev/./ttyACM0", "/dev/ttyACM0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolvePortName(c.name).toStdString(), c.path) << c.name;
}

// A link is followed at every call, so re-pointing it is seen at the next open.
TEST(PortName, SymbolicLinksAreFollowed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = QDir(dir.path()).filePath("a");
    const QString b = QDir(dir.path()).filePath("b");
    const QString link = QDir(dir.path()).filePath("ecu");
    QFile(a).open(QIODevice::WriteOnly);
    QFile(b).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(a, link));
    EXPECT_EQ(ResolvePortName(link.toStdString()), QFileInfo(a).canonicalFilePath());
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(b, link));
    EXPECT_EQ(ResolvePortName(link.toStdString()), QFileInfo(b).canonicalFilePath());
    QFile::remove(link);
    EXPECT_EQ(ResolvePortName(link.toStdString()), link) << "a missing port keeps its name";
}
#else
TEST(PortName, ComNamesAndDevices)
{
    EXPECT_EQ(ResolvePortName("com3"), QStringLiteral("COM3"));
    EXPECT_EQ(ResolvePortName("COM12"), QStringLiteral("COM12"));
}
#endif

}  // namespace
}  // namespace kovra
