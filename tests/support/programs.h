#pragma once

#include <QByteArray>
#include <QHash>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QProcess;

// Whole-file reads and writes, and the built programs run as separate processes.

QByteArray readFile(const QString &path);
// An ayar.ini that saves port `port` and mask `mask`, as the programs write it.
QByteArray savedSettings(int port, int mask);
bool writeFile(const QString &path, const QByteArray &bytes);

struct Outcome
{
    int exitCode = -1; // -1: did not end by itself within 20 s
    QString out;
    QString err;
};
// Ends `process` (once started) with this test, also when the test is killed: a
// program that a fault keeps running must not outlive the suite that started it.
void endWithTest(QProcess &process);

Outcome runProgram(const QString &program, const QStringList &args,
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

// Copies the built `name` from beside the test into `folder`, so that its ayar.ini
// lands there; returns the copy's path.
QString copyProgram(const QString &name, const QString &folder);

// This environment without a display, port n naming ports.value(n) or a path that
// does not exist: the machine's own devices never count.
QProcessEnvironment portEnvironment(const QHash<int, QString> &ports);
