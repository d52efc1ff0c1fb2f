#include "core/inifile.h"

#include "platform/files.h"
#include "platform/permissions.h"

#include <QByteArrayView>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

// An INI file (ayar.ini, portlar.ini) is handled as bytes, line by line, so that everything this
// program does not own (comments, other sections, odd encodings, stray binary) is written back
// exactly as it was read.
//
// - A line ends at LF; a CR right before the LF belongs to the line end. A lone CR
//   is an ordinary byte.
// - A UTF-8 byte-order mark at the start of the file is skipped when reading and
//   kept when writing.
// - Blanks are space, tab and CR; they may surround section names (inside and
//   outside the brackets), key names and values.
// - A line whose first non-blank is ';' or '#' is a comment. "[name]" opens a
//   section (text after "]" is ignored); "key = value" is a key line, split at its
//   first "="; any other line is ignored.
// - Section and key names match when equal apart from the case of ASCII letters.
//   The first occurrence of the key in its section is the one read and written.
// - A new key line goes right after the last key line of the first such section
//   (or after its header); a new section goes at the end of the file. New lines
//   take the line end of the file's first line, LF in a file that has none.
// - Values are UTF-8; invalid bytes read as U+FFFD.

namespace relo {

namespace {

// Far beyond any real ayar.ini. A bigger file is not read (its values read as
// empty) and not rewritten, rather than loaded into memory whole.
constexpr qint64 MaxFileSize = 1024 * 1024;
constexpr qsizetype MaxValueLength = 254;
constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

qsizetype skipBlanks(QByteArrayView bytes, qsizetype from, qsizetype to)
{
    while (from < to && isBlank(bytes[from]))
        ++from;
    return from;
}

qsizetype skipBlanksBackwards(QByteArrayView bytes, qsizetype from, qsizetype to)
{
    while (to > from && isBlank(bytes[to - 1]))
        --to;
    return to;
}

QByteArrayView trimmed(QByteArrayView bytes)
{
    const qsizetype begin = skipBlanks(bytes, 0, bytes.size());
    const qsizetype end = skipBlanksBackwards(bytes, begin, bytes.size());
    return bytes.sliced(begin, end - begin);
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

// A key the file can hold: not empty, no "=", no line break or NUL, and not
// something that would read back as a section header or a comment.
std::optional<QByteArray> keyBytes(const QString &key)
{
    const QByteArray bytes = trimmed(key.toUtf8()).toByteArray();
    if (bytes.isEmpty() || bytes.contains('=') || bytes.contains('\n') || bytes.contains('\r') ||
        bytes.contains('\0') || bytes.startsWith('[') || bytes.startsWith(';') ||
        bytes.startsWith('#'))
        return std::nullopt;
    return bytes;
}

enum class Load { Missing, Loaded, Failed };

Load loadFile(const QString &path, QByteArray &bytes)
{
    // In a shared folder a link or a stranger's file is not read (see
    // settingsFileProblem()).
    switch (platform::readFile(path, MaxFileSize, &bytes)) {
    case platform::FileRead::Missing:
        return Load::Missing;
    case platform::FileRead::Read:
        return bytes.size() > MaxFileSize ? Load::Failed : Load::Loaded;
    case platform::FileRead::Link:
    case platform::FileRead::Outsider:
    case platform::FileRead::Failed:
        break;
    }
    return Load::Failed;
}

// Replaces the file at `path` with `bytes` in one step. In a folder shared by
// several accounts the new file is made beside it by hand, never through a
// link and open to the group; elsewhere QSaveFile keeps what it keeps (the
// file's mode, a link's target).
bool replaceWhole(const QString &path, const QByteArray &bytes)
{
    if (platform::isSharedFolder(QFileInfo(path).absolutePath())) {
        const QString temporary =
            path + QStringLiteral(".~%1").arg(QCoreApplication::applicationPid());
        if (!platform::writeNewFile(temporary, bytes, true))
            return false;
        if (platform::replaceFile(temporary, path))
            return true;
        QFile::remove(temporary);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Flush before commit and check it: a short final write (disk full) in the flush
    // that commit() does by itself is not reported, and the truncated file would
    // replace the good one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Where RELO/key stands in the file, or where it would go.
struct Location
{
    qsizetype bodyStart = 0; // after the byte-order mark
    bool keyFound = false;
    qsizetype valueBegin = 0; // the value without surrounding blanks
    qsizetype valueEnd = 0;
    bool sectionFound = false;
    qsizetype insertAt = 0;          // just after the line a new key line follows
    bool insertNeedsLineEnd = false; // that line is the last and has no line end
    QByteArray lineEnd;              // the file's own, empty when it has none yet
};

Location locate(QByteArrayView bytes, QByteArrayView section, QByteArrayView key)
{
    Location at;
    if (bytes.startsWith(ByteOrderMark))
        at.bodyStart = ByteOrderMark.size();

    bool inRelo = false;
    bool inFirstRelo = false;
    qsizetype pos = at.bodyStart;
    while (pos < bytes.size()) {
        const qsizetype newline = bytes.indexOf('\n', pos);
        qsizetype end = newline < 0 ? bytes.size() : newline;
        const qsizetype next = newline < 0 ? bytes.size() : newline + 1;
        if (newline >= 0 && end > pos && bytes[end - 1] == '\r')
            --end;
        if (newline >= 0 && at.lineEnd.isEmpty())
            at.lineEnd = end < newline ? QByteArray("\r\n") : QByteArray("\n");

        const qsizetype first = skipBlanks(bytes, pos, end);
        const QByteArrayView line = bytes.sliced(first, end - first); // from the first non-blank
        const bool comment = line.startsWith(';') || line.startsWith('#');
        const qsizetype close = line.startsWith('[') ? line.indexOf(']') : -1;
        const qsizetype equals = line.indexOf('=');
        if (line.isEmpty() || comment) {
            // nothing to see
        } else if (close > 0) {
            inRelo = sameName(trimmed(line.sliced(1, close - 1)), section);
            inFirstRelo = inRelo && !at.sectionFound;
            if (inFirstRelo) {
                at.sectionFound = true;
                at.insertAt = next;
                at.insertNeedsLineEnd = newline < 0;
            }
        } else if (equals >= 0 && inRelo) {
            if (sameName(trimmed(line.first(equals)), key)) {
                at.keyFound = true;
                at.valueBegin = skipBlanks(bytes, first + equals + 1, end);
                at.valueEnd = skipBlanksBackwards(bytes, at.valueBegin, end);
                return at;
            }
            if (inFirstRelo) {
                at.insertAt = next;
                at.insertNeedsLineEnd = newline < 0;
            }
        }
        pos = next;
    }
    return at;
}

QByteArray withSetting(const QByteArray &bytes, const QByteArray &section, const QByteArray &key,
                       const QByteArray &value)
{
    const Location at = locate(bytes, section, key);
    if (at.keyFound)
        return bytes.left(at.valueBegin) + value + bytes.mid(at.valueEnd);

    const QByteArray lineEnd = at.lineEnd.isEmpty() ? QByteArray("\n") : at.lineEnd;
    const QByteArray keyLine = key + '=' + value + lineEnd;
    if (at.sectionFound) {
        return bytes.left(at.insertAt) + (at.insertNeedsLineEnd ? lineEnd : QByteArray()) +
               keyLine + bytes.mid(at.insertAt);
    }
    const bool lastLineOpen = bytes.size() > at.bodyStart && !bytes.endsWith('\n');
    const QByteArray header = '[' + section + ']' + lineEnd;
    return bytes + (lastLineOpen ? lineEnd : QByteArray()) + header + keyLine;
}

// The value of section/key in `bytes`, trimmed and cut to MaxValueLength; empty
// when the key is not there or cannot be a key.
QString valueOf(const QByteArray &bytes, const QByteArray &section, const QString &key)
{
    const std::optional<QByteArray> name = keyBytes(key);
    if (!name)
        return {};
    const Location at = locate(bytes, section, *name);
    if (!at.keyFound)
        return {};
    QString value = QString::fromUtf8(bytes.sliced(at.valueBegin, at.valueEnd - at.valueBegin));
    if (value.size() > MaxValueLength) {
        // Never keep half of a surrogate pair.
        value.truncate(value.at(MaxValueLength - 1).isHighSurrogate() ? MaxValueLength - 1
                                                                      : MaxValueLength);
    }
    return value;
}

} // namespace

std::optional<QStringList> readIniValues(const QString &path, const QString &section,
                                         const QStringList &keys)
{
    QByteArray bytes;
    if (loadFile(path, bytes) == Load::Failed)
        return std::nullopt;
    QStringList values;
    for (const QString &key : keys)
        values << valueOf(bytes, section.toUtf8(), key);
    return values;
}

bool writeIniValues(const QString &path, const QString &section,
                    const QList<std::pair<QString, QString>> &values, bool fresh)
{
    const std::optional<QByteArray> sectionName = keyBytes(section);
    if (!sectionName || sectionName->contains(']'))
        return false;
    QByteArray updated;
    if (!fresh && loadFile(path, updated) == Load::Failed)
        return false; // never replace a file that could not be read in full

    for (const auto &[key, value] : values) {
        const std::optional<QByteArray> name = keyBytes(key);
        const QByteArray valueBytes = value.toUtf8();
        if (!name || valueBytes.contains('\n') || valueBytes.contains('\r') ||
            valueBytes.contains('\0'))
            return false;
        updated = withSetting(updated, *sectionName, *name, valueBytes);
    }
    return replaceWhole(path, updated);
}

QString settingsFileProblem(const QString &path)
{
    QByteArray bytes;
    switch (platform::readFile(path, 0, &bytes)) {
    case platform::FileRead::Link:
        return QStringLiteral("%1 sembolik bağ olduğu için kullanılmadı: paylaşılan klasörde "
                              "bağlar izlenmez; bağı silin")
            .arg(path);
    case platform::FileRead::Outsider: {
        const QString group = platform::fileGroup(QFileInfo(path).absolutePath())
                                  .value_or(platform::FileGroup{})
                                  .name;
        return QStringLiteral("%1 kullanılmadı: %2 grubunun dışından birine ait ya da herkese "
                              "yazılabilir; dosyayı silin ya da sahibini ve izinlerini düzeltin")
            .arg(path, group);
    }
    case platform::FileRead::Read:
    case platform::FileRead::Missing:
    case platform::FileRead::Failed:
        break;
    }
    return {};
}

} // namespace relo
