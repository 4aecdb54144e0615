// The settings file's text: what Qt's INI writer wrote reads back the same, what this program writes reads
// back the same both here and in Qt's own reader, for every kind of character a folder name can hold.
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "app/settings_file.h"
#include "app/settings_store.h"

namespace {

const QStringList kKeys = {QStringLiteral("Output Folder"), QStringLiteral("Group/Key"),
                           QString::fromUtf8("Schl\xC3\xBCssel \xE6\xBC\xA2")};

// A fresh name for the same bytes: Qt keeps what it read of a file by name, and every reader here has to
// read the text itself.
QString CopyOf(const QString& file, const QString& name) {
  const QString copy = QFileInfo(file).dir().filePath(name);
  if (!QFile::copy(file, copy)) return {};
  return copy;
}

void WriteAll(QSettings&& store, const QString& text) {
  for (const QString& key : kKeys)
    store.setValue(key, text);
  store.sync();
}

}  // namespace

class SettingsFileTest : public QObject {
  Q_OBJECT

 private slots:
  void textKeepsEveryCharacter_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("qtWritesIt");  // Qt's writer turns a lone surrogate into "?"
    QTest::newRow("a folder") << QStringLiteral("/home/user/Videos") << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("blanks around") << QStringLiteral("  my folder  ") << true;
    QTest::newRow("separators") << QStringLiteral("/a,b;c=d/e") << true;
    QTest::newRow("quotes and backslashes") << QStringLiteral("/x\"y\\z\\") << true;
    QTest::newRow("control characters") << QStringLiteral(
                                               "/a\nb\tc\rd\x01"
                                               "e")
                                        << true;
    QTest::newRow("a character escaped before a hex digit") << QString::fromUtf8(
                                                                   "/caf\xC3\xA9"
                                                                   "abc")
                                                            << true;
    QTest::newRow("beyond Latin-1") << QString::fromUtf8("/\xE6\xBC\xA2\xE5\xAD\x97/\xF0\x9F\x8E\xAC")
                                    << true;
    QTest::newRow("an @ first") << QStringLiteral("@Variant(\\0)") << true;
    QTest::newRow("two @ first") << QStringLiteral("@@x") << true;
    QTest::newRow("a byte of a name that is not UTF-8")
        << QStringLiteral("/tmp/caf") + QChar(0xDCE9) + QStringLiteral("1") << false;
  }
  void textKeepsEveryCharacter() {
    QFETCH(QString, text);
    QFETCH(bool, qtWritesIt);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());

    const QString ours = folder.filePath(QStringLiteral("ours.conf"));
    WriteAll(QSettings(ours, app::SettingsFormat()), text);
    const QString ours_for_qt = CopyOf(ours, QStringLiteral("ours-for-qt.conf"));
    const QString ours_again = CopyOf(ours, QStringLiteral("ours-again.conf"));
    QVERIFY(!ours_for_qt.isEmpty() && !ours_again.isEmpty());
    // Plain ASCII: whatever the locale of the next reader.
    QFile written(ours);
    QVERIFY(written.open(QIODevice::ReadOnly));
    for (const char byte : written.readAll())
      QVERIFY2(static_cast<unsigned char>(byte) < 0x80, "a byte beyond ASCII");

    for (const QString& key : kKeys) {
      QCOMPARE(QSettings(ours_again, app::SettingsFormat()).value(key).toString(), text);
      QCOMPARE(QSettings(ours_for_qt, QSettings::IniFormat).value(key).toString(), text);
    }

    if (!qtWritesIt) return;
    const QString qts = folder.filePath(QStringLiteral("qts.ini"));
    WriteAll(QSettings(qts, QSettings::IniFormat), text);
    const QString qts_for_us = CopyOf(qts, QStringLiteral("qts-for-us.conf"));
    QVERIFY(!qts_for_us.isEmpty());
    for (const QString& key : kKeys)
      QCOMPARE(QSettings(qts_for_us, app::SettingsFormat()).value(key).toString(), text);
  }

  // Lists, byte arrays and the invalid value, as Qt writes them; numbers as text.
  void otherValuesAsQtWritesThem() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString qts = folder.filePath(QStringLiteral("qts.ini"));
    {
      QSettings store(qts, QSettings::IniFormat);
      store.setValue(QStringLiteral("list"), QStringList{QStringLiteral("a b"), QStringLiteral("c,d")});
      store.setValue(QStringLiteral("bytes"), QByteArray("x\0y", 3));
      store.setValue(QStringLiteral("nothing"), QVariant());
      store.setValue(QStringLiteral("number"), -42);
    }
    QSettings store(CopyOf(qts, QStringLiteral("qts-for-us.conf")), app::SettingsFormat());
    QCOMPARE(store.value(QStringLiteral("list")).toStringList(),
             (QStringList{QStringLiteral("a b"), QStringLiteral("c,d")}));
    QCOMPARE(store.value(QStringLiteral("bytes")).toByteArray(), QByteArray("x\0y", 3));
    QVERIFY(store.contains(QStringLiteral("nothing")));
    QVERIFY(!store.value(QStringLiteral("nothing")).isValid());
    QCOMPARE(store.value(QStringLiteral("number")).toString(), QStringLiteral("-42"));
  }

  // Lines that mean nothing are skipped; the keys around them are read.
  void damagedLinesAreSkipped() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString file = folder.filePath(QStringLiteral("damaged.conf"));
    QFile text(file);
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write(QByteArray("a=1\n[General\nno equals sign\n=no key\n\"unclosed=\"x\nb=\"unclosed\n; c=3\n"
                          "d=4 ; a comment\ne=\\x110000\nf=one\\\n two\n[Other]\ng=5\n") +
               QByteArray("\0h=6\n", 5));
    text.close();
    QSettings store(file, app::SettingsFormat());
    QCOMPARE(store.status(), QSettings::NoError);
    QCOMPARE(store.value(QStringLiteral("a")).toString(), QStringLiteral("1"));
    QCOMPARE(store.value(QStringLiteral("b")).toString(), QStringLiteral("unclosed"));
    QVERIFY(!store.contains(QStringLiteral("c")));
    QCOMPARE(store.value(QStringLiteral("d")).toString(), QStringLiteral("4"));
    QCOMPARE(store.value(QStringLiteral("e")).toString(), QString(QChar(QChar::ReplacementCharacter)));
    QCOMPARE(store.value(QStringLiteral("f")).toString(), QStringLiteral("one two"));
    QCOMPARE(store.value(QStringLiteral("Other/g")).toString(), QStringLiteral("5"));
  }
};

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "settings_file_test.moc"
