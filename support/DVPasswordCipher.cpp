#include "DVPasswordCipher.h"

#include <QStringDecoder>

#include <openssl/evp.h>

#include <array>
#include <memory>

namespace {

constexpr int kKeySize = 32;
constexpr int kBlockSize = 16;

struct CipherContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

QByteArray aes256(const QByteArray& input, const QString& key, bool encrypt) {
    const QByteArray keyBytes = key.toUtf8();
    if (keyBytes.size() > kKeySize)
        return {};
    std::array<unsigned char, kKeySize> keyBuffer{};
    std::copy(keyBytes.cbegin(), keyBytes.cend(), keyBuffer.begin());
    const std::array<unsigned char, kBlockSize> iv{};

    std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter> context(EVP_CIPHER_CTX_new());
    if (!context ||
        EVP_CipherInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, keyBuffer.data(), iv.data(), encrypt ? 1 : 0) != 1)
        return {};

    QByteArray output(input.size() + kBlockSize, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(output.data());
    int produced = 0;
    int finalProduced = 0;
    if (EVP_CipherUpdate(context.get(), out, &produced, reinterpret_cast<const unsigned char*>(input.constData()),
                         static_cast<int>(input.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), out + produced, &finalProduced) != 1)
        return {};
    output.truncate(produced + finalProduced);
    return output;
}

} // namespace

QByteArray AES256EncryptWithKey(const QByteArray& data, const QString& key) {
    return aes256(data, key, true);
}

QByteArray AES256DecryptWithKey(const QByteArray& data, const QString& key) {
    return aes256(data, key, false);
}

QByteArray encryptPassword(const QString& password) {
    if (password.isEmpty())
        return {};
    return AES256EncryptWithKey(password.toUtf8(), QString::fromLatin1(kDVPasswordKey));
}

QString decryptPassword(const QByteArray& stored) {
    if (stored.isEmpty())
        return {};
    const QByteArray plain = AES256DecryptWithKey(stored, QString::fromLatin1(kDVPasswordKey));
    if (plain.isNull())
        return {};
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(plain);
    if (decoder.hasError())
        return {};
    return text;
}

QString encodeBase64String(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (utf8.isEmpty())
        return {};
    return QString::fromLatin1(utf8.toBase64());
}
