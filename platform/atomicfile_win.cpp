#include "platform/atomicfile.h"

#include <QSaveFile>

namespace platform {

// A replaced file inherits the folder's access list; Windows has no mode bits to keep.
bool ReplaceFileContents(const QString &path, const QByteArray &bytes)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace platform
