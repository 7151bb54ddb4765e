#include "app/pictures.h"

#include <QImageReader>

QPixmap ReadPicture(const QString &path, const char *format)
{
    QImageReader reader(path, format);
    // Only the named format: no plugin is asked, and a file of another kind is refused.
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon ProgramIcon(const QString &resource)
{
    return QIcon(ReadPicture(resource, "png"));
}
