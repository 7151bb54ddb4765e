#pragma once

#include "platform/errors.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

enum TPriorClass { pcHigh, pcIdle, pcNormal, pcRealtime };
enum TLangType { ltFrench, ltEnglish, ltItalian };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };

// Screen cursor identifiers (0 default, negative the stock cursors).
using TCursor = qint16;
constexpr TCursor crDefault = 0;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crAppStart = -19;

class EAppExec : public Exception {
public:
    using Exception::Exception;
};

class EAppExecChDir : public EAppExec {
public:
    using EAppExec::EAppExec;
};

class EAppExecWinExec : public EAppExec {
public:
    using EAppExec::EAppExec;
};

// Starts a program from a command line, optionally waiting for it while the window
// stays responsive and capturing its standard output.
class TAppExec : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool ChangeDir READ ChangeDir WRITE setChangeDir)
    Q_PROPERTY(QString ExeName READ ExeName WRITE setExeName)
    Q_PROPERTY(QString ExePath READ ExePath WRITE setExePath)
    Q_PROPERTY(bool Hide READ Hide WRITE setHide)
    Q_PROPERTY(bool RedirectOutput READ RedirectOutput WRITE setRedirectOutput)
    Q_PROPERTY(bool Wait READ Wait WRITE setWait)

public:
    explicit TAppExec(QObject *owner = nullptr);
    ~TAppExec() override;

    void Execute();
    void Clear();
    QString GetCommandLine() const;
    QString GetErrorString() const;

    bool ChangeDir() const { return FChangeDir; }
    void setChangeDir(bool value) { FChangeDir = value; }
    const QString &ExeName() const { return FExeName; }
    void setExeName(const QString &value) { FExeName = value; }
    const QStringList &ExeParams() const { return FExeParams; }
    void setExeParams(const QStringList &value) { FExeParams = value; }
    const QString &ExePath() const { return FExePath; }
    void setExePath(const QString &value);
    bool Hide() const { return FHide; }
    void setHide(bool value) { FHide = value; }
    TLangType LangType() const { return FLangType; }
    void setLangType(TLangType value);
    TPriorClass PriorityClass() const { return FPriorClass; }
    void setPriorityClass(TPriorClass value) { FPriorClass = value; }
    bool RedirectOutput() const { return FRedirectOutput; }
    void setRedirectOutput(bool value) { FRedirectOutput = value; }
    bool Wait() const { return FWait; }
    void setWait(bool value) { FWait = value; }
    TCursor WaitCursor() const { return FWaitCursor; }
    void setWaitCursor(TCursor value) { FWaitCursor = value; }
    TWindowState WindowState() const { return FWindowState; }
    void setWindowState(TWindowState value);

    quint32 ErrNo() const { return FErrNo; }
    QStringList &Output() { return FOutput; }

    // Process handle of the last waited run; valid until the next waited run.
    quint32 phandle = 0;

private:
    QString ProgramPart() const;
    void FinishWait(quint32 handle);

    bool FChangeDir = true;
    quint32 FErrNo = 32;
    QString FExeName;
    QString FExePath;
    QStringList FExeParams;
    bool FHide = false;
    TLangType FLangType = ltEnglish;
    quint16 FMode = 1;
    QStringList FOutput;
    TPriorClass FPriorClass = pcNormal;
    bool FRedirectOutput = false;
    bool FWait = false;
    TCursor FWaitCursor = crAppStart;
    TWindowState FWindowState = wsNormal;
    // Handles whose waits are still running (a handler may start another run meanwhile).
    QList<quint32> FWaiting;
};
