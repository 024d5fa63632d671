// Device metadata of the playlist with its three faces: HTTP headers for web and edge-app
// traffic, a JSON object for edge apps, and the decrypted per-app secrets.
#pragma once

#include "decrypter.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QStringList>

class KestrovaMetadata {
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    using SecretMap = QMap<QString, QString>;

    // Empty: no headers, empty JSON, no secrets.
    KestrovaMetadata() = default;
    // Reads the "metadata" object and decrypts every secret of the "cipher_data" object.
    KestrovaMetadata(const QJsonObject& metadata, const QJsonObject& cipherData, Decrypter decrypter);

    QJsonObject json() const { return m_json; }
    Headers getHeaders() const { return m_headers; }
    // The app's secrets by name; an app without an entry gets an empty map and an INFO line.
    SecretMap appSecrets(const QString& appName) const;
    void addHeaderIfNotEmpty(const QString& name, const QString& value);

    bool isEmpty() const { return m_isEmpty; }
    const QString& hostname() const { return m_hostname; }
    const QString& screenName() const { return m_screenName; }
    const QString& location() const { return m_location; }
    const QString& version() const { return m_version; }
    const QString& hardware() const { return m_hardware; }
    const QStringList& tags() const { return m_tags; }
    const QString& latitude() const { return m_latitude; }
    const QString& longitude() const { return m_longitude; }
    const Decrypter& decrypter() const { return m_decrypter; }
    const QMap<QString, SecretMap>& secrets() const { return m_secrets; }

private:
    bool m_isEmpty = true;
    QString m_hostname;
    QString m_screenName;
    QString m_location;
    QString m_version;
    QString m_hardware;
    QStringList m_tags;
    QString m_latitude;
    QString m_longitude;
    Headers m_headers;
    QJsonObject m_json;
    Decrypter m_decrypter;
    QMap<QString, SecretMap> m_secrets;
};

Q_DECLARE_METATYPE(KestrovaMetadata)
