// Folders that only this user may enter, as the queue uses when it cannot live
// beside ayar.ini: made closed, and accepted only when nobody else can get in.

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void privateFolder_data();
    void privateFolder();
};

void TestFiles::privateFolder_data()
{
    QTest::addColumn<QString>("before"); // "", "open", "closed", "link" or "theirs"
    QTest::addColumn<bool>("accepted");
    QTest::newRow("made") << "" << true;
    QTest::newRow("there, closed") << "closed" << true;
    QTest::newRow("there, open to others") << "open" << false;
    QTest::newRow("a link to a closed folder") << "link" << false;
    QTest::newRow("closed, someone else's") << "theirs" << false;
}

void TestFiles::privateFolder()
{
    QFETCH(QString, before);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("relo"));
    const QString target = dir.filePath(QStringLiteral("elsewhere"));
    const auto closed = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (before == u"link")
        QVERIFY(QDir().mkdir(target) && QFile::setPermissions(target, closed) &&
                QFile::link(target, path));
    else if (!before.isEmpty())
        QVERIFY(QDir().mkdir(path) &&
                QFile::setPermissions(path, before == u"open"
                                                ? closed | QFile::ReadOther | QFile::ExeOther
                                                : closed));
    if (before == u"theirs" && (::geteuid() != 0 || ::chown(qPrintable(path), 65534, 65534) != 0))
        QSKIP("only root can give a folder away");
    QCOMPARE(relo::platform::makeFolder(path, true), accepted);
    // Nothing for the group or others.
    if (accepted)
        QCOMPARE(QFile::permissions(path) & 0x0077, QFile::Permissions());
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
