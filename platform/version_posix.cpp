#include "platform/version.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <functional>

namespace platform {

namespace {

// The tag every executable that links this file carries: a marker, the four numbers and
// a check word, so that a file's version can be read without a resource format.
struct VersionTag {
    char marker[16];
    quint16 numbers[4];
    quint16 check;
};

constexpr quint16 Check(quint16 a, quint16 b, quint16 c, quint16 d)
{
    return quint16((a * 31u + b * 17u + c * 7u + d) ^ 0x5A5Au);
}

[[gnu::used]] const VersionTag kVersionTag = {
    {'T', 'A', 'V', 'R', 'O', '-', 'V', 'E', 'R', 'S', 'I', 'O', 'N', '-', '1', '\0'},
    {TAVRO_VERSION_MAJOR, TAVRO_VERSION_MINOR, TAVRO_VERSION_RELEASE, TAVRO_VERSION_BUILD},
    Check(TAVRO_VERSION_MAJOR, TAVRO_VERSION_MINOR, TAVRO_VERSION_RELEASE, TAVRO_VERSION_BUILD)};

} // namespace

FileVersion RunningVersion()
{
    return {kVersionTag.numbers[0], kVersionTag.numbers[1], kVersionTag.numbers[2], kVersionTag.numbers[3]};
}

FileVersion ReadFileVersion(const QString &path)
{
    // Keep the tag in every program that can ask for its own version.
    static volatile const void *keep = &kVersionTag;
    (void)keep;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    qint64 size = file.size();
    if (size < qint64(sizeof(VersionTag)))
        return {};
    uchar *data = file.map(0, size);
    QByteArray whole;
    if (!data) {
        whole = file.readAll();
        // The file may have shrunk since its size was taken: search only what was read.
        size = whole.size();
        data = reinterpret_cast<uchar *>(whole.data());
    }
    // The needle is the tag's own marker, so the file holds no second copy of it.
    const char *marker = kVersionTag.marker;

    const char *begin = reinterpret_cast<const char *>(data);
    const char *end = begin + size;
    const std::boyer_moore_horspool_searcher searcher(marker, marker + sizeof kVersionTag.marker);
    const char *at = begin;
    while (at < end) {
        const char *p = std::search(at, end, searcher);
        if (end - p < qint64(sizeof(VersionTag)))
            break;
        VersionTag tag;
        std::memcpy(&tag, p, sizeof tag);
        if (tag.check == Check(tag.numbers[0], tag.numbers[1], tag.numbers[2], tag.numbers[3]))
            return {tag.numbers[0], tag.numbers[1], tag.numbers[2], tag.numbers[3]};
        at = p + 1;
    }
    return {};
}

} // namespace platform
