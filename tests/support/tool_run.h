// Runs the kovra tool the way a user does, for the tests of its commands.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace kovra::test {

struct TToolRun {
    int Code = -1;  // -1: did not finish in time; -2: crashed
    QString Out;
    QString Err;

    QStringList ErrLines() const { return Err.split('\n', Qt::SkipEmptyParts); }
};

#ifdef KOVRA_TOOL
// Runs `kovra args...` to its end (killed after timeoutMs), with its output
// and messages decoded as UTF-8.
inline TToolRun RunTool(const QStringList& args, int timeoutMs = 30000)
{
    QProcess p;
    p.start(KOVRA_TOOL, args);
    TToolRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
#endif

}  // namespace kovra::test
