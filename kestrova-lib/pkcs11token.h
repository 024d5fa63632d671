// Decryption with a private key that never leaves a PKCS#11 token. Debian's Botan has no
// PKCS#11 support, so this is a thin Cryptoki client of our own.
#pragma once

#include <QByteArray>
#include <QString>

struct TokenResult {
    QByteArray plaintext;
    QString error; // empty when the token decrypted the data
};

// Loads the module named by PKCS11_MODULE_PATH, logs in to the first slot that holds a
// token with the PIN from PKCS11_STORE_PIN and decrypts with the private key labelled
// `label` (RSA OAEP, SHA-256 for hash and MGF1, empty label). Everything is set up anew
// on each call and released again before returning, whatever the outcome.
TokenResult decryptOnToken(const QByteArray& cipherText, const QString& label = QStringLiteral("kestrova"));
