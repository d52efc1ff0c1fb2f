// Folders that only this user may enter, as the queue uses when it cannot live
// beside ayar.ini: made closed, and accepted only when nobody else can get in.

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void privateFolder_data();
    void privateFolder();
    void sharedFileTakesFolderGroup();
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

// A shared folder without its setgid bit gives new files this process's group:
// each is handed to the folder's group, or the other members could not use it.
void TestFiles::sharedFileTakesFolderGroup()
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    gid_t groups[64];
    const int count = ::getgroups(64, groups);
    gid_t other = ::geteuid() == 0 ? 65534 : ::getegid(); // root may give any group
    for (int i = 0; i < count && other == ::getegid(); ++i)
        other = groups[i];
    if (other == ::getegid() || ::chown(folder.constData(), uid_t(-1), other) != 0)
        QSKIP("this user is in no second group to give the folder");
    QVERIFY(::chmod(folder.constData(), 0770) == 0);
    QVERIFY(relo::platform::writeNewFile(dir.filePath(QStringLiteral("ayar.ini")), "x"));
    struct stat info
    {};
    QVERIFY(::stat(QFile::encodeName(dir.filePath(QStringLiteral("ayar.ini"))), &info) == 0);
    QCOMPARE(info.st_gid, other);
}

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_files.moc"
