#pragma once

#include "core/consoleline.h"
#include "core/settingsfile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace relo {

// The command line of a network service, read over its section of ayar.ini.
//
// Each option is "--name VALUE" or "--name=VALUE" on the command line and a key
// of the program's section in ayar.ini; an option wins over its key. --help
// (-h) and --version are answered whatever else is given. The password never
// comes from the command line: the option whose key is PasswordFile names a
// file whose first line it is, else the program's environment variable holds
// it, else the file named by PasswordFile in ayar.ini.
struct ServiceOption
{
    enum Kind {
        Text,
        Path, // relative in ayar.ini: from the folder of ayar.ini
        List, // several values: blanks or commas between them in ayar.ini; the
              // option, given once or more, replaces them
    };
    QString name; // "--host"
    QString key;  // "Host"
    Kind kind = Text;
};

struct ServiceCommandLine
{
    QString program;          // "relo-mqtt"
    QString section;          // "MQTT"
    QString passwordVariable; // "RELO_MQTT_PASSWORD"
    QList<ServiceOption> options;

    QStringList keys() const;
};

struct ServiceArguments
{
    // Unsafe: refused for safety; the line says what to do (no "--help" hint).
    enum Action { Run, Help, Version, Misuse, Unsafe, Failed };
    Action action = Run;
    QString error;             // Misuse, Unsafe and Failed: one line for standard error
    QList<QStringList> values; // by option, in their order; Text and Path: at most one
    std::optional<QString> password;
    QString passwordFile; // where the password was read from, if from a file

    QString value(int option) const { return values.value(option).value(0); }
    static ServiceArguments refused(Action action, const QString &error);
};

// What a service's own reading of its options gives main(): the options, or
// what to answer instead.
template <typename Options> struct ParsedService
{
    ServiceArguments::Action action = ServiceArguments::Run;
    Options options;
    QString error;

    static ParsedService refused(const ServiceArguments &arguments)
    {
        return {arguments.action, {}, arguments.error};
    }
    static ParsedService refused(ServiceArguments::Action action, const QString &error)
    {
        return {action, {}, error};
    }
};

// Reads `args` (without the program's name) over `iniValues`, the values of the
// section in the order of keys().
ServiceArguments readServiceArguments(const ServiceCommandLine &line, const QStringList &args,
                                      const QStringList &iniValues, const QString &iniFolder,
                                      const QProcessEnvironment &env);

// Prints what `parsed` asks for, as every service does: the usage or the
// version on standard output (status 0), a misuse with the way to the help
// (2), a refusal (2) or a failure (1) on standard error. Nothing for Run.
std::optional<int> answerArguments(const ServiceCommandLine &line, ServiceArguments::Action action,
                                   const QString &error, const QString &version,
                                   const QString &usage);

// The ayar.ini whose section of the service `line` a service using the state in
// `settingsFolder` reads: ayar.ini itself, except for the shared ayar.ini of a
// system-wide install. Every account of its group may write that one, so a
// section there (the address to listen on or to connect to, the password and
// certificate files) would let one account point another's service, and its
// secrets, where it likes: the account's own ayar.ini is read instead, empty
// when it has none. `note` gets one line when the shared file holds such a
// section, which is then not read.
QString serviceSettingsFile(const ServiceCommandLine &line, const QString &settingsFolder,
                            QString *note);

// The start of a service's main(): reads the program's section of ayar.ini
// (serviceSettingsFile()) and the command line with `parse` (parseBridgeOptions,
// parseWebOptions) and answers what needs no service (answerArguments()), or
// says that ayar.ini cannot be read. Returns the exit status then; nothing,
// with `*options` set, when the service is to run.
template <typename Options, typename Parse>
std::optional<int> startServiceOptions(const ServiceCommandLine &line, Parse parse,
                                       const QString &settingsFolder, const QString &version,
                                       const QString &usage, Options *options)
{
    QString note;
    const QString file = serviceSettingsFile(line, settingsFolder, &note);
    const std::optional<QStringList> iniValues =
        file.isEmpty() ? std::optional<QStringList>(QStringList())
                       : readIniValues(file, line.section, line.keys());
    const ParsedService<Options> parsed =
        parse(QCoreApplication::arguments().mid(1), iniValues.value_or(QStringList()),
              file.isEmpty() ? settingsFolder : QFileInfo(file).absolutePath(),
              QProcessEnvironment::systemEnvironment());
    if (const std::optional<int> status =
            answerArguments(line, parsed.action, parsed.error, version, usage))
        return status;
    if (!iniValues)
        return answerArguments(line, ServiceArguments::Failed,
                               QStringLiteral("ayar.ini okunamadı: %1").arg(file), version, usage);
    if (!note.isEmpty())
        printLine(stderr, note);
    *options = parsed.options;
    return std::nullopt;
}

// The first line of a small text file (a password file), without its line end;
// nothing when the file cannot be read or is bigger than 4 KiB.
std::optional<QString> readFirstLine(const QString &path);

} // namespace relo
