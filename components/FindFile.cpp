#include "components/FindFile.h"

#include "platform/paths.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string_view>
#include <typeinfo>
#include <unordered_set>
#include <utility>
#include <vector>

using platform::PathDelim;

namespace {

constexpr qint64 kBlockSize = 4096;

using platform::ExtractFileName;
using platform::ExtractFilePath;
using platform::IncludeTrailingPathDelimiter;

QString AsciiUpper(QString s)
{
    for (QChar &c : s)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 32);
    return s;
}

// Events get the folder without its trailing delimiter, except a root ("/", "C:\").
QString EventFolder(const QString &folder)
{
    const qsizetype n = folder.size();
    if (n > 1 && folder.endsWith(PathDelim) && folder[n - 2] != QLatin1Char(':'))
        return folder.left(n - 1);
    return folder;
}

TFileAttributes MapAttributes(quint32 attr)
{
    TFileAttributes s;
    auto add = [&](quint32 bit, TFileAttribute a) {
        if (attr & bit)
            s.Bits = static_cast<quint8>(s.Bits | (1u << a));
    };
    add(platform::FILE_ATTRIBUTE_ARCHIVE, ffArchive);
    add(platform::FILE_ATTRIBUTE_READONLY, ffReadonly);
    add(platform::FILE_ATTRIBUTE_HIDDEN, ffHidden);
    add(platform::FILE_ATTRIBUTE_SYSTEM, ffSystem);
    add(platform::FILE_ATTRIBUTE_DIRECTORY, ffDirectory);
    return s;
}

// A limit with no fraction is a whole day, one with no whole part a time of day on
// any date, anything else a moment; 0 is no limit.
bool LimitPasses(double v, double limit, bool before)
{
    if (limit == 0)
        return true;
    const double whole = std::trunc(limit);
    const double x = limit == whole ? std::trunc(v) : whole == 0 ? v - std::trunc(v) : v;
    return before ? x <= limit : x >= limit;
}

bool DatePairPasses(platform::FileTime time, double before, double after)
{
    if (before == 0 && after == 0)
        return true;
    const double v = platform::FileTimeToLocalDateTime(time);
    return LimitPasses(v, before, true) && LimitPasses(v, after, false);
}

QThread::Priority ToQtPriority(TThreadPriority p)
{
    switch (p) {
    case tpIdle: return QThread::IdlePriority;
    case tpLowest: return QThread::LowestPriority;
    case tpLower: return QThread::LowPriority;
    case tpNormal: return QThread::NormalPriority;
    case tpHigher: return QThread::HighPriority;
    case tpHighest: return QThread::HighestPriority;
    case tpTimeCritical: return QThread::TimeCriticalPriority;
    }
    return QThread::NormalPriority;
}

unsigned char FoldAscii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
}

} // namespace

bool MatchesExcludePattern(const QString &fileName, const QString &pattern)
{
    const QString full = AsciiUpper(fileName);
    const QString pat = AsciiUpper(pattern);
    const QString f = ExtractFilePath(full);
    const QString e = ExtractFileName(full);
    QString p = ExtractFilePath(pat);
    const QString n = ExtractFileName(pat);

    if (!p.isEmpty()) {
        if (p.size() >= 2 && p[1] == QLatin1Char(':')) {
            const QChar drive = p[0];
            if (drive != QLatin1Char('*') && drive != QLatin1Char('?') && (f.isEmpty() || drive != f[0]))
                return false;
            p.remove(0, 2);
        }
        if (p.size() > f.size() - 2)
            return false;
        if (!f.endsWith(p))
            return false;
    }
    if (n.isEmpty())
        return true;

    qsizetype i = 0, j = 0;
    const QChar dot = QLatin1Char('.'), star = QLatin1Char('*'), qm = QLatin1Char('?');
    while (i < n.size() && j < e.size()) {
        if (e[j] == n[i]) {
            ++i;
            ++j;
        } else if (e[j] != dot && n[i] == qm) {
            ++i;
            ++j;
        } else if (e[j] == dot) {
            if (n[i] == qm) {
                ++i;
            } else if (n[i] == star) {
                const qsizetype k = n.indexOf(dot, i + 1);
                i = k < 0 ? n.size() : k;
            } else {
                return false;
            }
        } else if (n[i] == star) {
            ++j;
        } else {
            return false;
        }
    }
    while (i < n.size() && (n[i] == star || n[i] == qm))
        ++i;
    return i == n.size() && j == e.size();
}

// Finds on their way from the worker to the window thread. The worker does not wait
// for each find to be handled, only for the answer to a folder question; the queue
// is bounded so that memory stays flat however many files are found.
struct TFindFile::Handover {
    enum Kind { NewFolder, Found };
    struct Item {
        Kind What;
        QString Folder;
        TSearchRec FoundSR;
    };
    static constexpr size_t kMaxQueued = 1024;

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<Item> Queue;
    bool WakePosted = false;
    bool Answered = false;
    bool Ignored = false;
    bool BodyEnded = false;
};

// One search's walk, on the caller's thread or on the worker. It owns the search's
// content buffer and the set of folders already entered.
class TFindFile::Walker {
public:
    Walker(TFindFile &owner, bool threaded) : ff(owner), m_threaded(threaded)
    {
        if (ff.SI.Text) {
            m_needle = QString::fromUtf16(ff.SI.Text.get()).toLocal8Bit();
            if (ff.SI.IgnoreCase)
                for (char &c : m_needle)
                    c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
            const qsizetype size = kBlockSize + std::max<qsizetype>(m_needle.size() - 1, 0);
            m_buffer.resize(static_cast<size_t>(size));
        }
    }

    void Run()
    {
        for (const QString &line : ff.SI.IncludeFiles) {
            const QString folder = IncludeTrailingPathDelimiter(platform::FullPathName(ExtractFilePath(line)));
            platform::DirectoryLister list(folder);
            SearchFolder(folder, ExtractFileName(line), list);
            if (ff.fAborted)
                break;
        }
    }

    // Reads the entry being tested in blocks, keeping the last N-1 bytes of each block
    // in front of the next one so that a text straddling two blocks is still found.
    bool FileContainsText()
    {
        const qsizetype n = m_needle.size();
        if (n == 0 || !m_current)
            return false;
        platform::SequentialFile file;
        // A file that cannot be opened does not contain the text; the search goes on.
        if (!m_current->OpenCurrent(file))
            return false;
        char *buf = m_buffer.data();
        qsizetype keep = 0;
        qint64 total = 0;
        for (;;) {
            const qint64 got = file.Read(buf + keep, kBlockSize);
            if (got <= 0)
                return false;
            total += got;
            const qsizetype avail = keep + static_cast<qsizetype>(got);
            if (avail >= n && Contains(buf, avail))
                return true;
            if (got < kBlockSize || total >= file.Size() || StopRequested())
                return false;
            Tick();
            keep = std::min(n - 1, avail);
            std::memmove(buf, buf + avail - keep, static_cast<size_t>(keep));
        }
    }

private:
    bool Contains(const char *data, qsizetype size)
    {
        const size_t n = static_cast<size_t>(m_needle.size());
        const char *needle = m_needle.constData();
        if (!ff.SI.IgnoreCase)
            return std::string_view(data, static_cast<size_t>(size)).find(std::string_view(needle, n))
                   != std::string_view::npos;
        // Candidates are found by the first byte in either case, then checked with ASCII
        // letters folded; much faster than folding every byte read.
        const char *end = data + size - static_cast<qsizetype>(n) + 1; // candidates start before end
        const char first = needle[0];
        const bool letter = first >= 'A' && first <= 'Z';
        auto next = [end](const char *from, char c) -> const char * {
            return from < end ? static_cast<const char *>(std::memchr(from, c, static_cast<size_t>(end - from)))
                              : nullptr;
        };
        const char *upper = next(data, first);
        const char *lower = letter ? next(data, static_cast<char>(first + 32)) : nullptr;
        while (upper || lower) {
            const char *c = !lower ? upper : !upper ? lower : std::min(upper, lower);
            size_t k = 1;
            while (k < n && static_cast<char>(FoldAscii(static_cast<unsigned char>(c[k]))) == needle[k])
                ++k;
            if (k == n)
                return true;
            if (c == upper)
                upper = next(c + 1, first);
            else
                lower = next(c + 1, static_cast<char>(first + 32));
        }
        return false;
    }

    bool StopRequested() const { return m_threaded ? ff.fStopRequested.load() : ff.fAborted.load(); }

    // Wakes the window thread for a batch of finds rather than for each: after
    // kBatch finds, once the oldest has waited kLatency, or when the worker is about to wait.
    void Announce(bool force)
    {
        Handover &h = *ff.fHandover;
        if (h.WakePosted || h.Queue.empty()) {
            m_unannounced = 0;
            return;
        }
        if (!force && m_unannounced < kBatch && std::chrono::steady_clock::now() - m_since < kLatency)
            return;
        h.WakePosted = true;
        m_unannounced = 0;
        // By name, so that Qt alone builds and frees the call: nothing of ours made here is
        // read on the window thread behind Qt's own lock, which thread checkers cannot see.
        QMetaObject::invokeMethod(&ff, "ServiceHandover", Qt::QueuedConnection);
    }

    void Push(Handover::Item &&item, bool force)
    {
        Handover &h = *ff.fHandover;
        h.Queue.push_back(std::move(item));
        if (m_unannounced++ == 0)
            m_since = std::chrono::steady_clock::now();
        Announce(force);
        h.Changed.notify_all();
    }

    // Lets finds that have waited long enough go out while the walk goes on.
    void Tick()
    {
        if (m_threaded && m_unannounced > 0
            && (m_unannounced >= kBatch || std::chrono::steady_clock::now() - m_since >= kLatency)) {
            std::lock_guard lock(ff.fHandover->Lock);
            Announce(true);
        }
    }

    bool AskNewFolder(const QString &folder)
    {
        if (!m_threaded)
            return ff.DoNewFolder(folder);
        // Nobody can answer otherwise: the folder is searched, without a round trip.
        if (!ff.fAskFolders)
            return true;
        Handover &h = *ff.fHandover;
        std::unique_lock lock(h.Lock);
        h.Answered = false;
        Push(Handover::Item{Handover::NewFolder, folder, {}}, true);
        h.Changed.wait(lock, [&] { return h.Answered; });
        return !h.Ignored;
    }

    void Report(const QString &folder, TSearchRec &rec)
    {
        if (!m_threaded) {
            ff.DoFound(folder, rec);
            return;
        }
        Handover &h = *ff.fHandover;
        std::unique_lock lock(h.Lock);
        if (h.Queue.size() >= Handover::kMaxQueued) {
            Announce(true);
            h.Changed.wait(lock, [&] { return h.Queue.size() < Handover::kMaxQueued || ff.fStopRequested; });
        }
        if (!ff.fStopRequested)
            Push(Handover::Item{Handover::Found, folder, rec}, false);
    }

    void SearchFolder(const QString &folder, const QString &mask, platform::DirectoryLister &list)
    {
        // A link back up the tree would otherwise be followed forever: a folder that is
        // already being searched further up is not entered again. Only the folders on
        // the way down count, so each include line and each location is searched whole.
        const std::optional<platform::FolderId> id = list.Id();
        if (id && m_ancestors.contains(*id))
            return;
        if (!AskNewFolder(folder))
            return;
        if (id)
            m_ancestors.insert(*id);
        struct Leave {
            std::unordered_set<platform::FolderId, IdHash> &set;
            std::optional<platform::FolderId> id;
            ~Leave()
            {
                if (id)
                    set.erase(*id);
            }
        } leave{m_ancestors, id};
        if (StopRequested())
            return;

        // One read of the folder serves both the entries and the subfolders.
        list.SetMask(mask);
        list.SetCollectSubfolders(ff.SI.IncSubfolders);
        TSearchRec rec;
        m_current = &list;
        while (list.Next(rec)) {
            if (!rec.Name.startsWith(QLatin1Char('.')) && ff.IsAcceptable(*this, folder, rec))
                Report(folder, rec);
            if (StopRequested())
                break;
            Tick();
        }
        m_current = nullptr;
        if (StopRequested() || !ff.SI.IncSubfolders)
            return;
        for (const platform::DirectoryLister::Subfolder &sub : list.Subfolders()) {
            if (!sub.Name.startsWith(QLatin1Char('.'))) {
                platform::DirectoryLister child(list, sub);
                SearchFolder(folder + sub.Name + PathDelim, mask, child);
            }
            if (StopRequested())
                break;
        }
    }

    struct IdHash {
        size_t operator()(const platform::FolderId &id) const noexcept
        {
            return std::hash<quint64>()(id.Inode * 31 + id.Device);
        }
    };

    TFindFile &ff;
    bool m_threaded;
    QByteArray m_needle;
    std::vector<char> m_buffer;
    std::unordered_set<platform::FolderId, IdHash> m_ancestors;
    platform::DirectoryLister *m_current = nullptr;
    static constexpr int kBatch = 64;
    static constexpr std::chrono::milliseconds kLatency{2};
    int m_unannounced = 0;
    std::chrono::steady_clock::time_point m_since;
};

TFindFile::TFindFile(QObject *owner)
    : QObject(owner), fFilename(QStringLiteral("*.*")),
      fAttributes{ffArchive, ffReadonly, ffHidden, ffSystem}
{
}

TFindFile::~TFindFile()
{
    fDestroying = true;
    if (fThread) {
        fAborted = true;
        fStopRequested = true;
        WaitForSearchThread();
    }
}

// Drops the worker's finds and answers its questions (without events) until its body
// has ended, then joins it.
void TFindFile::WaitForSearchThread()
{
    Handover &h = *fHandover;
    {
        std::unique_lock lock(h.Lock);
        for (;;) {
            while (!h.Queue.empty()) {
                if (h.Queue.front().What == Handover::NewFolder) {
                    h.Ignored = true;
                    h.Answered = true;
                }
                h.Queue.pop_front();
            }
            h.Changed.notify_all();
            if (h.BodyEnded)
                break;
            h.Changed.wait(lock, [&] { return h.BodyEnded || !h.Queue.empty(); });
        }
    }
    fThread->wait();
    delete fThread;
    fThread = nullptr;
}

void TFindFile::setFilename(const QString &value)
{
    if (ExtractFileName(value) != value)
        throw EFindFileError(value + QStringLiteral("\n\rInvalid filename specified"));
    fFilename = value;
}

void TFindFile::setLocation(const QString &value)
{
    if (value.contains(QLatin1Char('*')) || value.contains(QLatin1Char('?')))
        throw EFindFileError(value + QStringLiteral("\n\rlocation cannot to be contained wildcards"));
    fLocation = value;
}

void TFindFile::setThreadPriority(TThreadPriority value)
{
    fThreadPriority = value;
    if (fThread)
        fThread->setPriority(ToQtPriority(value));
}

QStringList TFindFile::BuildIncludeList(QString location, const QString &filename) const
{
    QString mask = filename.isEmpty() ? QStringLiteral("*.*") : filename;
    if (!filename.isEmpty() && !filename.contains(QLatin1Char('.')))
        mask += QStringLiteral(".*");

    QStringList list;
    QStringList upper; // the entries with ASCII letters folded, for the duplicate test
    do {
        const qsizetype semi = location.indexOf(QLatin1Char(';'));
        const QString piece = semi < 0 ? location : location.left(semi);
        location = semi < 0 ? QString() : location.mid(semi + 1);
        const QString entry = IncludeTrailingPathDelimiter(platform::FullPathName(piece)) + mask;
        const QString key = AsciiUpper(entry);
        if (!upper.contains(key)) {
            upper << key;
            list << entry;
        }
    } while (!location.isEmpty() && location != QLatin1String(";"));
    return list;
}

void TFindFile::Execute()
{
    if (fBusy)
        return;
    fBusy = true;
    try {
        SI.Attr = fAttributes;
        SI.ExactAttr = fExactAttr;
        SI.IncludeFiles = fIncludeFiles.isEmpty() ? BuildIncludeList(fLocation, fFilename) : fIncludeFiles;
        SI.IncSubfolders = fSubfolders;
        SI.ExcludeFiles = fExcludeFiles;
        SI.CreatedBefore = fCreatedBefore;
        SI.CreatedAfter = fCreatedAfter;
        SI.AccessedBefore = fAccessedBefore;
        SI.AccessedAfter = fAccessedAfter;
        SI.ModifiedBefore = fModifiedBefore;
        SI.ModifiedAfter = fModifiedAfter;
        SI.SizeMin = fSizeMin;
        SI.SizeMax = fSizeMax;
        SI.Text.reset();
        if (!fContaining.isEmpty()) {
            SI.IgnoreCase = fIgnoreCase;
            const qsizetype n = fContaining.size();
            SI.Text = std::make_unique<char16_t[]>(static_cast<size_t>(n) + 1);
            std::memcpy(SI.Text.get(), fContaining.utf16(), static_cast<size_t>(n) * sizeof(char16_t));
            SI.Text[static_cast<size_t>(n)] = 0;
        }
    } catch (...) {
        SI = TSearchInfo{};
        fBusy = false;
        throw;
    }
    fAborted = false;
    if (fThreaded)
        StartSearchThread();
    else
        RunSearch();
}

void TFindFile::Abort()
{
    fAborted = true;
    if (!fThread)
        return;
    fStopRequested = true;
    {
        // A worker waiting for room in the queue sees the request at once.
        std::lock_guard lock(fHandover->Lock);
        fHandover->Changed.notify_all();
    }
    // From inside a handler the worker waits on, waiting here would never end; the
    // search completes as soon as that handler returns.
    if (fHandoverDepth > 0)
        return;
    while (fBusy)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TFindFile::RunSearch()
{
    try {
        Walker walker(*this, false);
        walker.Run();
    } catch (...) {
        fAborted = true;
    }
    DoComplete();
}

void TFindFile::StartSearchThread()
{
    fStopRequested = false;
    fTerminatePending = false;
    fHandover = std::make_unique<Handover>();
    // Only a handler or an override can ignore a folder; without them the worker need not ask.
    fAskFolders = static_cast<bool>(OnNewFolder) || typeid(*this) != typeid(TFindFile);
    fThread = QThread::create([this] {
        try {
            Walker walker(*this, true);
            walker.Run();
        } catch (...) {
            fAborted = true;
        }
        // Posted before the body is marked ended: once it is, the owner may be gone.
        QMetaObject::invokeMethod(this, "SearchThreadTerminated", Qt::QueuedConnection);
        Handover &h = *fHandover;
        std::lock_guard lock(h.Lock);
        h.BodyEnded = true;
        h.Changed.notify_all();
    });
    fThread->start(ToQtPriority(fThreadPriority));
}

void TFindFile::SearchThreadTerminated()
{
    if (!fThread)
        return;
    // Ended while a handler runs a nested loop: complete once that handler has returned.
    if (fHandoverDepth > 0) {
        fTerminatePending = true;
        return;
    }
    ServiceHandover(); // finds still queued go out before OnComplete
    {
        // The body's end seen under the handover's lock, so the next search may drop the
        // handover: the join below is Qt's, which thread checkers cannot see.
        Handover &h = *fHandover;
        std::unique_lock lock(h.Lock);
        h.Changed.wait(lock, [&] { return h.BodyEnded; });
    }
    fThread->wait();
    delete fThread;
    fThread = nullptr;
    DoComplete();
}

// Hands the queued finds and the folder question to the handlers, in walk order, one
// at a time. A handler that runs a nested loop does not get the next find inside it.
void TFindFile::ServiceHandover()
{
    if (fHandoverDepth > 0 || !fHandover)
        return;
    Handover &h = *fHandover;
    std::unique_lock lock(h.Lock);
    while (!h.Queue.empty()) {
        Handover::Item item = std::move(h.Queue.front());
        h.Queue.pop_front();
        h.Changed.notify_all();
        lock.unlock();

        bool ignored = true;
        // After Abort the worker is only finishing; what it still sends raises no events.
        if (!fStopRequested && !fDestroying) {
            ++fHandoverDepth;
            try {
                if (item.What == Handover::NewFolder)
                    ignored = !DoNewFolder(item.Folder);
                else
                    DoFound(item.Folder, item.FoundSR);
            } catch (...) {
                fAborted = true;
                fStopRequested = true;
                ignored = true;
            }
            --fHandoverDepth;
        }

        lock.lock();
        if (item.What == Handover::NewFolder) {
            h.Ignored = ignored;
            h.Answered = true;
            h.Changed.notify_all();
        }
    }
    // Only with the queue empty: whatever the worker adds from now on posts a new wake.
    h.WakePosted = false;
    lock.unlock();
    if (fTerminatePending) {
        fTerminatePending = false;
        SearchThreadTerminated();
    }
}

bool TFindFile::IsAcceptable(Walker &walker, const QString &folder, const TSearchRec &rec) const
{
    const TFileAttributes s = MapAttributes(rec.Attr);
    if (SI.ExactAttr) {
        if (!(s == SI.Attr))
            return false;
    } else if (s.Bits != 0 && (s.Bits & SI.Attr.Bits) == 0) {
        return false;
    }

    const bool isFolder = rec.Attr & platform::FILE_ATTRIBUTE_DIRECTORY;
    if (!isFolder) {
        if (SI.SizeMin != 0 && rec.Size < static_cast<qint64>(SI.SizeMin))
            return false;
        if (SI.SizeMax != 0 && rec.Size > static_cast<qint64>(SI.SizeMax))
            return false;
    }

    if (!DatePairPasses(rec.FindData.CreationTime, SI.CreatedBefore, SI.CreatedAfter)
        || !DatePairPasses(rec.FindData.LastWriteTime, SI.ModifiedBefore, SI.ModifiedAfter)
        || !DatePairPasses(rec.FindData.LastAccessTime, SI.AccessedBefore, SI.AccessedAfter))
        return false;

    if (!SI.ExcludeFiles.isEmpty()) {
        const QString full = folder + rec.Name;
        for (const QString &pattern : SI.ExcludeFiles)
            if (MatchesExcludePattern(full, pattern))
                return false;
    }

    if (SI.Text && !isFolder)
        return walker.FileContainsText();
    return true;
}

void TFindFile::DoFound(const QString &folder, TSearchRec &rec)
{
    if (OnFound && !fDestroying) {
        // A copy, so that a handler may reassign the event while it runs.
        const TFoundEvent handler = OnFound;
        handler(this, EventFolder(folder), rec);
    }
}

bool TFindFile::DoNewFolder(const QString &folder)
{
    bool ignore = false;
    if (OnNewFolder && !fDestroying) {
        const TNewFolderEvent handler = OnNewFolder;
        handler(this, EventFolder(folder), ignore);
    }
    return !ignore;
}

void TFindFile::DoComplete()
{
    SI.IncludeFiles = QStringList();
    SI.ExcludeFiles = QStringList();
    SI.Text.reset();
    fBusy = false;
    if (OnComplete && !fDestroying) {
        const TNotifyEvent handler = OnComplete;
        handler(this);
    }
}

// Compiled here rather than with the other components, so that a program using only
// the finder does not link them.
#include "moc_FindFile.cpp"
