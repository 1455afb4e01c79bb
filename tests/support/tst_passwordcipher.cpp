#include "DVPasswordCipher.h"
#include "TestMain.h"
#include "TestRows.h"

class TestPasswordCipher : public QObject {
    Q_OBJECT

private slots:
    // Vectors from: printf '%s' TEXT | openssl enc -aes-256-cbc -K 54616d626c6577717a7872766e706b796a00…00 -iv 0
    void matchesOpenSslVectors_data() {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QByteArray>("cipherHex");
        row("15 bytes: one block", QStringLiteral("0123456789abcde"), QByteArray("ad6f4877a0d9c645b6253d0fc290b448"));
        row("16 bytes: a whole padding block", QStringLiteral("0123456789abcdef"),
            QByteArray("b8c69e65801e76e66623222ddc2f1ff44e5ca6c66fe16ad32b732a874c209021"));
        QTest::newRow("non-ASCII") << QStringLiteral("Pässwörd✓") << QByteArray("59a2df13d90785ad817c48603a724819");
    }

    void matchesOpenSslVectors() {
        QFETCH(QString, plain);
        QFETCH(QByteArray, cipherHex);
        QCOMPARE(encryptPassword(plain).toHex(), cipherHex);
        QCOMPARE(decryptPassword(QByteArray::fromHex(cipherHex)), plain);
    }

    void emptyEndsAreNone() {
        QVERIFY(encryptPassword(QString()).isNull());
        QVERIFY(encryptPassword(QStringLiteral("")).isNull());
        QVERIFY(decryptPassword(QByteArray()).isNull());
        QVERIFY(decryptPassword(QByteArray("")).isNull());
        // The cipher itself still pads nothing into one block.
        QCOMPARE(AES256EncryptWithKey(QByteArray(""), QString::fromLatin1(kDVPasswordKey)).toHex(),
                 QByteArray("ff3bd8cd167afe951012ca6aaa23b272"));
    }

    void undecipherableDataIsNoPassword_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("not a block multiple") << QByteArray("0123456789");
        QTest::newRow("bad padding") << QByteArray(16, 'x');
        // Valid padding around bytes that are not UTF-8.
        row("not UTF-8", AES256EncryptWithKey(QByteArray("\xff\xfe\xfd"), QString::fromLatin1(kDVPasswordKey)));
    }

    void undecipherableDataIsNoPassword() {
        QFETCH(QByteArray, stored);
        QVERIFY(decryptPassword(stored).isEmpty());
    }

    void keyLongerThanTheBufferFails() {
        QVERIFY(AES256EncryptWithKey(QByteArray("x"), QString(33, QLatin1Char('k'))).isNull());
        QVERIFY(!AES256EncryptWithKey(QByteArray("x"), QString(32, QLatin1Char('k'))).isNull());
    }

    // Our part only: the text's UTF-8 bytes are encoded, and nothing gives no text at all.
    void base64_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("UTF-8 bytes") << QStringLiteral("\u00fc:\u20ac") << QStringLiteral("w7w64oKs");
        QTest::newRow("empty") << QStringLiteral("") << QString();
    }

    void base64() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QString encoded = encodeBase64String(text);
        QCOMPARE(encoded, expected);
        QCOMPARE(encoded.isNull(), expected.isNull());
    }
};

DV_TEST_GUILESS_MAIN(TestPasswordCipher)
#include "tst_passwordcipher.moc"
