#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Pictures read by the decoder of their one format only. Qt's own loading tries every
// image plugin on the way (loading each, and their libraries) when the format is not a
// plugin's; start-up has no use for them.
QPixmap ReadPicture(const QString &path, const char *format);

// One of the program's own PNG pictures, as an icon.
QIcon ProgramIcon(const QString &resource);
