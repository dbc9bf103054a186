#include "platform/FontFilePages.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Resident file-backed pages of this process, in KiB, as the release's trigger reads them.
qint64 residentFileKiB()
{
    const qint64 pages = FontFilePages::residentFilePages();
    return pages < 0 ? -1 : pages * (sysconf(_SC_PAGESIZE) / 1024);
}

QString writeFile(const QTemporaryDir &dir, const QString &name, qsizetype size)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QByteArray block(4096, 'g');
    for (qsizetype written = 0; written < size; written += block.size())
        file.write(block);
    return path;
}

struct Mapping
{
    uchar *data = nullptr;
    qsizetype size = 0;
    ~Mapping()
    {
        if (data)
            munmap(data, size);
    }
};

} // namespace

using FontFilePages::Range;

class TstFontFilePages : public QObject
{
    Q_OBJECT

private slots:
    void readOnlyFontMappings_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("picked");

        const QByteArray cjk = "7f0e10000000-7f0e11200000 r--p 00000000 fe:01 1234   "
                               "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc";
        QTest::newRow("collection, read-only private") << cjk << true;
        QTest::newRow("shared read-only") << QByteArray(cjk).replace("r--p", "r--s") << true;
        QTest::newRow("writable copy keeps its changes") << QByteArray(cjk).replace("r--p", "rw-p") << false;
        QTest::newRow("upper-case extension") << QByteArray(cjk).replace(".ttc", ".TTF") << true;
        QTest::newRow("otf") << QByteArray(cjk).replace(".ttc", ".otf") << true;
        QTest::newRow("otc") << QByteArray(cjk).replace(".ttc", ".otc") << true;
        QTest::newRow("space in the path") << QByteArray(cjk).replace("noto/", "my fonts/") << true;
        QTest::newRow("extension inside the name only") << QByteArray(cjk).replace(".ttc", ".ttc.bak") << false;
        QTest::newRow("deleted file") << cjk + " (deleted)" << false;
        QTest::newRow("library") << QByteArray("7f0e10000000-7f0e11200000 r--p 00000000 fe:01 99 /usr/lib/libfoo.so")
                                 << false;
        QTest::newRow("anonymous") << QByteArray("7f0e10000000-7f0e11200000 r--p 00000000 00:00 0") << false;
        QTest::newRow("named only .ttf") << QByteArray("7f0e10000000-7f0e11200000 r--p 00000000 fe:01 1 .ttf")
                                         << false;
        QTest::newRow("broken addresses") << QByteArray(cjk).replace("-7f0e", "+7f0e") << false;
    }

    // One line among others: only a read-only font file mapping is picked, with its range.
    void readOnlyFontMappings()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, picked);
        const QByteArray maps = "55a70b4e6000-55a70b55a000 rw-p 00000000 00:00 0   [heap]\n" + line
                                + "\n7ffd1000-7ffd2000 rw-p 00000000 00:00 0   [stack]\n";
        const QList<Range> ranges = FontFilePages::readOnlyFontMappings(maps);
        if (picked)
            QCOMPARE(ranges, (QList<Range>{{0x7f0e10000000, 0x7f0e11200000, line.sliced(line.indexOf('/'))}}));
        else
            QVERIFY(ranges.isEmpty());
    }

    // The pages a read brought in leave this process; the data reads back unchanged, and a
    // writable private mapping of a font file keeps the bytes written into it.
    void releaseDropsReadPagesAndKeepsWrittenOnes()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const qsizetype size = 8 * 1024 * 1024;
        const QString readPath = writeFile(dir, QStringLiteral("Read.ttc"), size);
        const QString writtenPath = writeFile(dir, QStringLiteral("Written.ttf"), 4096);
        QFile readFile(readPath);
        QFile writtenFile(writtenPath);
        QVERIFY(readFile.open(QIODevice::ReadOnly) && writtenFile.open(QIODevice::ReadOnly));

        Mapping read{static_cast<uchar *>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, readFile.handle(), 0)), size};
        Mapping written{static_cast<uchar *>(
                            mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE, writtenFile.handle(), 0)),
                        4096};
        QVERIFY(read.data != MAP_FAILED && written.data != MAP_FAILED);
        written.data[0] = 'w';

        const qint64 before = residentFileKiB();
        QVERIFY(before > 0);
        int sum = 0;
        for (qsizetype at = 0; at < size; at += 4096)
            sum += read.data[at];
        QCOMPARE(sum, int(size / 4096) * 'g');
        QVERIFY2(residentFileKiB() - before >= 7 * 1024, "reading the file maps its pages");

        QVERIFY(FontFilePages::releaseResident() >= 1);
        QVERIFY2(residentFileKiB() - before < 1024, "the read pages were released");
        QCOMPARE(read.data[size - 1], uchar('g'));
        QCOMPARE(written.data[0], uchar('w'));
    }
};

QTEST_GUILESS_MAIN(TstFontFilePages)
#include "tst_fontfilepages.moc"
