// The replacement of a whole file that the settings file and the label folder share.
//
// Thread rules: none of its own (two writers of one path each leave a whole file; the later
// rename wins).
#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` with `bytes` so that the file is, at every moment, either the old
// one whole or the new one whole: the bytes go to a temporary file "name.XXXXXX" in the same
// folder, reach the disk, and are renamed over the old file. A symbolic link is written through
// to its target; an existing file keeps its owner, group and permissions as far as this user may,
// and one this user may not write is left alone. Returns an error text, empty on success; on
// failure the temporary file is removed.
QString ReplaceFileWhole(const QString& path, const QByteArray& bytes);
