#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <memory>

#include "platform/dirlist.h"
#include "platform/errors.h"

class QThread;

// Days since 30 December 1899, the time of day as the fraction; 0 = no limit.
using TDateTime = double;

enum TFileAttribute : quint8 { ffArchive, ffReadonly, ffHidden, ffSystem, ffDirectory };

// A set of TFileAttribute in one byte, bit n for the n-th member.
struct TFileAttributes {
    quint8 Bits = 0;
    constexpr TFileAttributes() = default;
    constexpr TFileAttributes(std::initializer_list<TFileAttribute> members)
    {
        for (TFileAttribute a : members)
            Bits = static_cast<quint8>(Bits | (1u << a));
    }
    constexpr bool contains(TFileAttribute a) const { return (Bits >> a) & 1u; }
    constexpr bool operator==(const TFileAttributes &) const = default;
};

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class EFindFileError : public Exception {
public:
    using Exception::Exception;
};

// The settings of the running search, copied by Execute and released by DoComplete.
struct TSearchInfo {
    QStringList IncludeFiles;
    QStringList ExcludeFiles;
    bool IncSubfolders = true;
    TFileAttributes Attr;
    bool ExactAttr = false;
    TDateTime CreatedBefore = 0, CreatedAfter = 0, AccessedBefore = 0, AccessedAfter = 0,
              ModifiedBefore = 0, ModifiedAfter = 0;
    qint32 SizeMin = 0, SizeMax = 0;
    std::unique_ptr<char16_t[]> Text; // zero-terminated, or none
    bool IgnoreCase = true;
};

using TNotifyEvent = std::function<void(QObject *Sender)>;
using TFoundEvent = std::function<void(QObject *Sender, const QString &Folder, TSearchRec &FileInfo)>;
using TNewFolderEvent = std::function<void(QObject *Sender, const QString &Folder, bool &IgnoreFolder)>;

// The exclusion rule: pattern folder must end the file's folder, name part in its own wildcard dialect.
bool MatchesExcludePattern(const QString &fileName, const QString &pattern);

class TFindFile : public QObject {
    Q_OBJECT
public:
    explicit TFindFile(QObject *owner = nullptr);
    ~TFindFile() override;

    QString Filename() const { return fFilename; }
    void setFilename(const QString &value);
    QString Location() const { return fLocation; }
    void setLocation(const QString &value);
    const QStringList &IncludeFiles() const { return fIncludeFiles; }
    void setIncludeFiles(const QStringList &value) { fIncludeFiles = value; }
    const QStringList &ExcludeFiles() const { return fExcludeFiles; }
    void setExcludeFiles(const QStringList &value) { fExcludeFiles = value; }
    bool Subfolders() const { return fSubfolders; }
    void setSubfolders(bool value) { fSubfolders = value; }
    TFileAttributes Attributes() const { return fAttributes; }
    void setAttributes(TFileAttributes value) { fAttributes = value; }
    bool ExactAttribute() const { return fExactAttr; }
    void setExactAttribute(bool value) { fExactAttr = value; }
    TDateTime ModifiedBefore() const { return fModifiedBefore; }
    void setModifiedBefore(TDateTime value) { fModifiedBefore = value; }
    TDateTime ModifiedAfter() const { return fModifiedAfter; }
    void setModifiedAfter(TDateTime value) { fModifiedAfter = value; }
    TDateTime CreatedBefore() const { return fCreatedBefore; }
    void setCreatedBefore(TDateTime value) { fCreatedBefore = value; }
    TDateTime CreatedAfter() const { return fCreatedAfter; }
    void setCreatedAfter(TDateTime value) { fCreatedAfter = value; }
    TDateTime AccessedBefore() const { return fAccessedBefore; }
    void setAccessedBefore(TDateTime value) { fAccessedBefore = value; }
    TDateTime AccessedAfter() const { return fAccessedAfter; }
    void setAccessedAfter(TDateTime value) { fAccessedAfter = value; }
    qint32 SizeMin() const { return fSizeMin; }
    void setSizeMin(qint32 value) { fSizeMin = value; }
    qint32 SizeMax() const { return fSizeMax; }
    void setSizeMax(qint32 value) { fSizeMax = value; }
    QString Containing() const { return fContaining; }
    void setContaining(const QString &value) { fContaining = value; }
    bool IgnoreCase() const { return fIgnoreCase; }
    void setIgnoreCase(bool value) { fIgnoreCase = value; }
    bool Threaded() const { return fThreaded; }
    void setThreaded(bool value) { fThreaded = value; }
    TThreadPriority ThreadPriority() const { return fThreadPriority; }
    void setThreadPriority(TThreadPriority value);

    bool Busy() const { return fBusy; }
    bool Aborted() const { return fAborted.load(); }

    void Execute();
    void Abort();

    TFoundEvent OnFound;
    TNewFolderEvent OnNewFolder;
    TNotifyEvent OnComplete;

protected:
    virtual void DoFound(const QString &folder, TSearchRec &rec);
    virtual bool DoNewFolder(const QString &folder);
    virtual void DoComplete();
    virtual void StartSearchThread();
    virtual void RunSearch();

    // The running background search, if any.
    QThread *SearchThread() const { return fThread; }

private:
    class Walker;
    struct Handover;
    friend class Walker;

    QStringList BuildIncludeList(QString location, const QString &filename) const;
    bool IsAcceptable(Walker &walker, const QString &folder, const TSearchRec &rec) const;
    // Queued from the worker by name.
    Q_INVOKABLE void SearchThreadTerminated();
    Q_INVOKABLE void ServiceHandover();
    void WaitForSearchThread();

    QString fFilename;
    QString fLocation;
    QStringList fIncludeFiles;
    QStringList fExcludeFiles;
    bool fSubfolders = true;
    TDateTime fModifiedBefore = 0, fModifiedAfter = 0;
    qint32 fSizeMin = 0, fSizeMax = 0;
    TFileAttributes fAttributes;
    bool fExactAttr = false;
    TDateTime fCreatedBefore = 0, fCreatedAfter = 0;
    TDateTime fAccessedBefore = 0, fAccessedAfter = 0;
    QString fContaining;
    bool fIgnoreCase = true;
    std::atomic<bool> fAborted{false};
    bool fBusy = false;
    TSearchInfo SI;
    QThread *fThread = nullptr;
    bool fThreaded = false;
    TThreadPriority fThreadPriority = tpNormal;

    bool fDestroying = false;
    std::atomic<bool> fStopRequested{false};
    bool fAskFolders = false;
    bool fTerminatePending = false;
    int fHandoverDepth = 0; // >0 while a handler of the background search runs
    std::unique_ptr<Handover> fHandover;
};
