// libFuzzer target: any ayar.ini content. Reading must not crash and returns at
// most 254 characters; writing PortData must read back, and every line of the
// old file except the one that held the key must survive byte for byte.
#include "core/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// True when `after` differs from `before` inside one line at most: the bytes that
// are not common prefix or common suffix hold no line end of the old file.
bool onlyOneLineChanged(const QByteArray &before, const QByteArray &after)
{
    qsizetype prefix = 0;
    const qsizetype shorter = qMin(before.size(), after.size());
    while (prefix < shorter && before.at(prefix) == after.at(prefix))
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           before.at(before.size() - 1 - suffix) == after.at(after.size() - 1 - suffix))
        ++suffix;
    const QByteArray removed = before.mid(prefix, before.size() - prefix - suffix);
    return !removed.contains('\n');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/relo-fuzz-XXXXXX"));
    const QString path = relo::settingsPath(dir.path());
    const QByteArray before(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(before);
    }

    for (const QString &key : {relo::PortNumberKey, relo::PortDataKey}) {
        if (relo::readSetting(dir.path(), key).size() > 254)
            std::abort();
    }
    if (!relo::writeSetting(dir.path(), relo::PortDataKey, QStringLiteral("42")) ||
        relo::readSetting(dir.path(), relo::PortDataKey) != QStringLiteral("42") ||
        !onlyOneLineChanged(before, readAll(path)))
        std::abort();
    return 0;
}
