// Decrypts texts that were encrypted for this device: base64 of RSA OAEP ciphertext
// (SHA-256 for hash and MGF1, empty label), with the private key in a file or, for the
// key path "tpm", on the PKCS#11 token named by the environment.
#pragma once

#include <QString>

class Decrypter {
public:
    // An empty path means that no key is configured.
    explicit Decrypter(QString keyPath = {});

    QString keyPath() const { return m_keyPath; }

    // The plaintext as UTF-8, or an empty text after a warning in the log.
    QString decrypt(const QString& cipherText) const;

private:
    QString m_keyPath;
};
