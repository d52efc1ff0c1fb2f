// The watch on the mask saved in ayar.ini: only a new value counts.

#include "programs.h"
#include "settingsfile.h"
#include "statewatcher.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestStateWatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void newValuesOnly();
};

void TestStateWatcher::newValuesOnly()
{
    QTemporaryDir dir;
    const QString path = relo::settingsPath(dir.path());
    QVERIFY(writeFile(path, "[RELO]\nPortNumber=3\nPortData=5\n"));
    relo::StateWatcher watcher(dir.path());
    QSignalSpy changed(&watcher, &relo::StateWatcher::maskChanged);
    QCOMPARE(watcher.start(), relo::Mask(5));

    // Saved by another program: seen without being asked.
    QVERIFY(relo::writeSetting(dir.path(), relo::PortDataKey, QStringLiteral("7")));
    QTRY_COMPARE(changed.size(), 1);
    // Touched, but the mask is the same: nothing new.
    QVERIFY(relo::writeSetting(dir.path(), relo::PortNumberKey, QStringLiteral("4")));
    watcher.check();
    QCOMPARE(changed.size(), 1);
    // A value that is no mask reads as none.
    QVERIFY(relo::writeSetting(dir.path(), relo::PortDataKey, QStringLiteral("x")));
    watcher.check();
    watcher.check();
    QCOMPARE(changed.size(), 2);
    // ayar.ini replaced by an editor: still watched.
    QVERIFY(writeFile(path, "[RELO]\nPortData=9\n"));
    QTRY_COMPARE(changed.size(), 3);

    QList<int> masks;
    for (const QList<QVariant> &signal : changed)
        masks << signal.at(0).value<relo::Mask>();
    QCOMPARE(masks, (QList<int>{7, 0, 9}));
    QCOMPARE(watcher.mask(), relo::Mask(9));
}

QTEST_GUILESS_MAIN(TestStateWatcher)
#include "tst_statewatcher.moc"
