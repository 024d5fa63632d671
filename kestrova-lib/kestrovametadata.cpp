#include "kestrovametadata.h"

#include "logging.h"

#include <QJsonArray>

KestrovaMetadata::KestrovaMetadata(const QJsonObject& metadata, const QJsonObject& cipherData, Decrypter decrypter)
    : m_isEmpty(metadata.isEmpty())
    , m_json(metadata)
    , m_decrypter(std::move(decrypter))
{
    // An empty metadata object stays empty: not even the secrets are read.
    if (m_isEmpty)
        return;

    m_hostname = metadata.value(QStringLiteral("hostname")).toString();
    m_screenName = metadata.value(QStringLiteral("screen_name")).toString();
    m_location = metadata.value(QStringLiteral("location")).toString();
    m_version = qEnvironmentVariableIsSet("SNAP_VERSION") ? qEnvironmentVariable("SNAP_VERSION")
                                                          : QStringLiteral("unknown");
    const QJsonArray coordinates = metadata.value(QStringLiteral("coordinates")).toArray();
    m_latitude = coordinates.at(0).toString();
    m_longitude = coordinates.at(1).toString();
    m_hardware = QStringLiteral("Raspberry Pi 4");

    m_json.insert(QStringLiteral("kestrova_version"), m_version);
    m_json.insert(QStringLiteral("hardware"), m_hardware);

    const QJsonArray tags = metadata.value(QStringLiteral("tags")).toArray();
    for (const QJsonValue& tag : tags)
        m_tags.append(tag.toString());

    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-hostname"), m_hostname);
    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-screen-name"), m_screenName);
    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-location-name"), m_location);
    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-hardware"), m_hardware);
    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-version"), m_version);
    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-lat"), m_latitude);
    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-lng"), m_longitude);
    addHeaderIfNotEmpty(QStringLiteral("X-Kestrova-tags"), m_tags.join(QLatin1Char(',')));
    m_isEmpty = m_headers.isEmpty();

    // Decrypted once per construction; a failed secret is kept as an empty value.
    const QJsonObject apps = cipherData.value(QStringLiteral("secrets")).toObject();
    for (auto app = apps.constBegin(); app != apps.constEnd(); ++app) {
        SecretMap appSecrets;
        const QJsonObject secrets = app.value().toObject();
        for (auto secret = secrets.constBegin(); secret != secrets.constEnd(); ++secret)
            appSecrets.insert(secret.key(), m_decrypter.decrypt(secret.value().toString()));
        m_secrets.insert(app.key(), appSecrets);
    }
}

KestrovaMetadata::SecretMap KestrovaMetadata::appSecrets(const QString& appName) const
{
    const auto found = m_secrets.constFind(appName);
    if (found == m_secrets.constEnd()) {
        LOG(INFO) << "App " << appName << " has no secrets.";
        return {};
    }
    return found.value();
}

void KestrovaMetadata::addHeaderIfNotEmpty(const QString& name, const QString& value)
{
    if (!value.isEmpty())
        m_headers.append(qMakePair(name.toUtf8(), value.toUtf8()));
}
