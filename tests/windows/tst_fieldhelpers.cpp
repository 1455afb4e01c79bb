#include "DVPasswordTransformer.h"
#include "WidgetTestMain.h"

class TestFieldHelpers : public QObject {
    Q_OBJECT

private slots:
    void transformerRoundTrip() {
        const QVariant stored = DVPasswordTransformer::reverseTransformedValue(QStringLiteral("pässwörd"));
        QCOMPARE(DVPasswordTransformer::transformedValue(stored).toString(), QStringLiteral("pässwörd"));
    }
};

DV_TEST_WIDGETS_MAIN(TestFieldHelpers)
#include "tst_fieldhelpers.moc"
