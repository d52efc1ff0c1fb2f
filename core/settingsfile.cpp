#include "core/settingsfile.h"

#include "core/numbertext.h"

#include <QDir>

#include <cmath>

namespace relo {

QString settingsPath(const QString &folder)
{
    return QDir(folder).filePath(SettingsFileName);
}

QString readSetting(const QString &folder, const QString &key)
{
    return readIniValues(settingsPath(folder), SettingsSection, {key})
        .value_or(QStringList())
        .value(0);
}

bool writeSetting(const QString &folder, const QString &key, const QString &value)
{
    return writeIniValues(settingsPath(folder), SettingsSection, {{key, value}});
}

std::optional<qint16> wholeNumberSetting(const QString &value)
{
    if (!isNumericText(value))
        return std::nullopt;
    const double number = std::floor(lenientNumber(value));
    if (number < -32768 || number > 32767)
        return std::nullopt;
    return qint16(number);
}

std::optional<Mask> maskSetting(const QString &value)
{
    const std::optional<qint16> number = wholeNumberSetting(value);
    if (!number || *number < 0 || *number > 255)
        return std::nullopt;
    return Mask(*number);
}

} // namespace relo
