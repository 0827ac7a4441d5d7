// Tests of the tools against the simulated ECU: a temporary folder for the
// settings, a link to the simulator's pseudo-terminal in it, and the simulator
// stopped at the end. Needs KOVRA_TOOL (the kovra binary).
#pragma once

#include "config/cp1251.h"
#include "platform/pty.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <string>

namespace kovra::test {

class SimulatedEcuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!TPty::Supported())
            GTEST_SKIP() << "no pseudo-terminals here";
        ASSERT_TRUE(dir.isValid());
        link = QDir(dir.path()).filePath("ecu");
    }
    void TearDown() override
    {
        if (sim.state() != QProcess::NotRunning) {
            sim.kill();
            sim.waitForFinished(2000);
        }
    }

    // Starts `kovra ecu-sim` for at most 20 s; it names the port it made first.
    void StartSim(QStringList extra = {})
    {
        sim.start(KOVRA_TOOL, QStringList{"ecu-sim", "--link", link, "--seconds", "20"} + extra);
        ASSERT_TRUE(sim.waitForStarted(5000));
        ASSERT_TRUE(sim.waitForReadyRead(5000)) << sim.readAllStandardError().toStdString();
        ASSERT_EQ(QString::fromUtf8(sim.readLine()).trimmed(), link) << "the port to open comes first";
        EXPECT_TRUE(QFileInfo(link).isSymLink());
    }

    // set.ini of the folder, from UTF-8 text.
    void WriteSettings(const std::string& utf8)
    {
        QFile f(QDir(dir.path()).filePath("set.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const std::string bytes = Utf8ToCp1251(utf8);
        f.write(bytes.data(), qint64(bytes.size()));
    }

    QTemporaryDir dir;
    QString link;
    QProcess sim;
};

}  // namespace kovra::test
