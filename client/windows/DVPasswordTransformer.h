#pragma once

#include <QVariant>

// Between the stored, enciphered password (data) and the text a password field shows. An empty value is
// none both ways, so an emptied field removes the stored password.
class DVPasswordTransformer {
public:
    static constexpr bool allowsReverseTransformation() { return true; }
    // Stored data -> text; invalid for none, empty data or data that does not decipher to text.
    static QVariant transformedValue(const QVariant& stored);
    // Text -> stored data; invalid for none or an empty text.
    static QVariant reverseTransformedValue(const QVariant& shown);
};
