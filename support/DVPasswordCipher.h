#pragma once

#include <QByteArray>
#include <QString>

// The program's fixed password key. Stored passwords from every earlier version were made with it.
inline constexpr char kDVPasswordKey[] = "Tamblewqzxrvnpkyj";

// AES-256-CBC with an all-zero IV and PKCS#7 padding; the key string's UTF-8 bytes fill a zeroed
// 32-byte buffer. A null QByteArray means failure (and a key longer than 32 bytes always fails).
QByteArray AES256EncryptWithKey(const QByteArray& data, const QString& key);
QByteArray AES256DecryptWithKey(const QByteArray& data, const QString& key);

// The stored form of a password: null for a null or empty password.
QByteArray encryptPassword(const QString& password);
// The password text again: null for null or empty data, data that does not decipher, or bytes that are
// not UTF-8. Callers treat null and empty alike as "no password".
QString decryptPassword(const QByteArray& stored);

// RFC 4648 Base64 of the UTF-8 bytes on one line; null when those bytes are empty.
QString encodeBase64String(const QString& text);
