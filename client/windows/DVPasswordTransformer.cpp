#include "DVPasswordTransformer.h"

#include "DVPasswordCipher.h"

QVariant DVPasswordTransformer::transformedValue(const QVariant& stored) {
    if (!stored.isValid())
        return {};
    const QByteArray data = stored.toByteArray();
    if (data.isEmpty())
        return {};
    const QString text = decryptPassword(data);
    return text.isNull() ? QVariant() : QVariant(text);
}

QVariant DVPasswordTransformer::reverseTransformedValue(const QVariant& shown) {
    if (!shown.isValid())
        return {};
    const QString text = shown.toString();
    if (text.isEmpty())
        return {};
    const QByteArray data = encryptPassword(text);
    return data.isNull() ? QVariant() : QVariant(data);
}
