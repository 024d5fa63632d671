#include "decrypter.h"

#include "logging.h"
#include "pkcs11token.h"

#include <QByteArray>
#include <QFile>

#include <botan/data_src.h>
#include <botan/pkcs8.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>

#include <exception>
#include <memory>
#include <utility>

namespace {

struct Outcome {
    QByteArray plaintext;
    QString error; // set when decryption went wrong, rather than merely giving nothing
};

Outcome decryptWithKeyFile(const QString& path, const QByteArray& cipherText)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        LOG(WARNING) << "Can't open private key file.";
        return {};
    }
    const QByteArray keyBytes = file.readAll();
    Botan::DataSource_Memory source(reinterpret_cast<const uint8_t*>(keyBytes.constData()), size_t(keyBytes.size()));
    const std::unique_ptr<Botan::Private_Key> key = Botan::PKCS8::load_key(source);
    if (key->algo_name() != "RSA")
        return {{}, QStringLiteral("Private key is %1, not RSA").arg(QString::fromStdString(key->algo_name()))};
    Botan::System_RNG rng;
    Botan::PK_Decryptor_EME decryptor(*key, rng, "OAEP(SHA-256)");
    const Botan::secure_vector<uint8_t> plain =
        decryptor.decrypt(reinterpret_cast<const uint8_t*>(cipherText.constData()), size_t(cipherText.size()));
    return {QByteArray(reinterpret_cast<const char*>(plain.data()), int(plain.size())), {}};
}

// Botan reports every failure as an exception; so may an allocation on either path.
Outcome decryptWithKey(const QString& keyPath, const QByteArray& cipherText)
{
    try {
        if (keyPath == QLatin1String("tpm")) {
            const TokenResult token = decryptOnToken(cipherText);
            return {token.plaintext, token.error};
        }
        return decryptWithKeyFile(keyPath, cipherText);
    } catch (const std::exception& e) {
        const QString description = QString::fromUtf8(e.what());
        return {{}, description.isEmpty() ? QStringLiteral("unknown error") : description};
    } catch (...) {
        return {{}, QStringLiteral("unknown error")};
    }
}

} // namespace

Decrypter::Decrypter(QString keyPath)
    : m_keyPath(std::move(keyPath))
{
}

QString Decrypter::decrypt(const QString& cipherText) const
{
    if (m_keyPath.isEmpty()) {
        LOG(WARNING) << "Path to private key is empty.";
        return {};
    }
    // Anything outside the base64 alphabet, line breaks included, is skipped.
    const QByteArray cipherBytes = QByteArray::fromBase64(cipherText.toUtf8());

    const Outcome outcome = decryptWithKey(m_keyPath, cipherBytes);
    if (!outcome.error.isEmpty()) {
        LOG(WARNING) << "Can't decrypt data: " << outcome.error;
        return {};
    }
    if (outcome.plaintext.isEmpty()) {
        LOG(WARNING) << "Can't decrypt data.";
        return {};
    }
    return QString::fromUtf8(outcome.plaintext);
}
