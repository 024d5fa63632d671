// Device metadata: headers, the JSON face and the per-app secrets.
#include "kestrovametadata.h"

#include "logcapture.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

using testsupport::LogCapture;

namespace {

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

using HeaderList = std::vector<std::pair<std::string, std::string>>;

HeaderList headers(const KestrovaMetadata& metadata)
{
    HeaderList result;
    for (const auto& header : metadata.getHeaders())
        result.emplace_back(header.first.toStdString(), header.second.toStdString());
    return result;
}

class SnapVersion {
public:
    explicit SnapVersion(const char* value)
    {
        if (value)
            qputenv("SNAP_VERSION", value);
        else
            qunsetenv("SNAP_VERSION");
    }
    ~SnapVersion() { qunsetenv("SNAP_VERSION"); }
};

// An RSA key made with openssl, and texts encrypted for it the way the content server does.
class DeviceKey {
public:
    DeviceKey()
    {
        run({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path("key.pem")});
        run({"pkey", "-in", path("key.pem"), "-pubout", "-out", path("pub.pem")});
    }
    QString keyPath() const { return path("key.pem"); }
    QString encrypt(const QByteArray& plaintext) const
    {
        QFile in(path("plain"));
        in.open(QIODevice::WriteOnly);
        in.write(plaintext);
        in.close();
        run({"pkeyutl", "-encrypt", "-pubin", "-inkey", path("pub.pem"), "-pkeyopt", "rsa_padding_mode:oaep",
             "-pkeyopt", "rsa_oaep_md:sha256", "-pkeyopt", "rsa_mgf1_md:sha256", "-in", path("plain"), "-out",
             path("cipher")});
        QFile out(path("cipher"));
        out.open(QIODevice::ReadOnly);
        return QString::fromLatin1(out.readAll().toBase64());
    }

private:
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void run(const QStringList& arguments) const
    {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"), arguments);
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
            ADD_FAILURE() << "openssl " << arguments.join(' ').toStdString() << ": "
                          << openssl.readAllStandardError().toStdString();
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST(KestrovaMetadata, HeadersInTheirFixedOrder)
{
    struct Case {
        const char* name;
        const char* metadata;
        const char* snapVersion;
        HeaderList expected;
    };
    const Case cases[] = {
        {"hostname only", R"({"hostname": "lobby-1"})", nullptr,
         {{"X-Kestrova-hostname", "lobby-1"}, {"X-Kestrova-hardware", "Raspberry Pi 4"}, {"X-Kestrova-version", "unknown"}}},
        {"everything", R"({"hostname": "h", "screen_name": "Lobby", "location": "Zürich HQ",
                           "coordinates": ["47.37", "8.54"], "tags": ["a", "", "b"]})",
         "2.9.1",
         {{"X-Kestrova-hostname", "h"},
          {"X-Kestrova-screen-name", "Lobby"},
          {"X-Kestrova-location-name", "Zürich HQ"},
          {"X-Kestrova-hardware", "Raspberry Pi 4"},
          {"X-Kestrova-version", "2.9.1"},
          {"X-Kestrova-lat", "47.37"},
          {"X-Kestrova-lng", "8.54"},
          {"X-Kestrova-tags", "a,,b"}}},
        {"coordinates as numbers and wrongly typed values", R"({"hostname": 7, "coordinates": [47.37, 8.54],
                                                                "tags": "a,b", "location": null})",
         nullptr, {{"X-Kestrova-hardware", "Raspberry Pi 4"}, {"X-Kestrova-version", "unknown"}}},
        {"one coordinate", R"({"coordinates": ["-33.86"]})", nullptr,
         {{"X-Kestrova-hardware", "Raspberry Pi 4"}, {"X-Kestrova-version", "unknown"}, {"X-Kestrova-lat", "-33.86"}}},
        {"only unknown keys", R"({"owner": "ops"})", nullptr,
         {{"X-Kestrova-hardware", "Raspberry Pi 4"}, {"X-Kestrova-version", "unknown"}}},
        {"empty metadata", "{}", "2.9.1", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SnapVersion version(c.snapVersion);
        const KestrovaMetadata metadata(object(c.metadata), {}, Decrypter());
        EXPECT_EQ(headers(metadata), c.expected);
        EXPECT_EQ(metadata.isEmpty(), c.expected.empty());
    }
}

TEST(KestrovaMetadata, JsonFaceCarriesVersionAndHardware)
{
    SnapVersion version(nullptr);
    const KestrovaMetadata metadata(
        object(R"({"hostname": "h", "hardware": "Commodore 64", "kestrova_version": "0.1", "owner": {"team": "ops"}})"),
        {}, Decrypter());
    EXPECT_EQ(metadata.json(), object(R"({"hostname": "h", "hardware": "Raspberry Pi 4", "kestrova_version": "unknown",
                                          "owner": {"team": "ops"}})"));
    EXPECT_EQ(metadata.version(), "unknown");
    EXPECT_EQ(metadata.tags(), QStringList());

    const KestrovaMetadata empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_TRUE(empty.getHeaders().isEmpty());
    EXPECT_TRUE(empty.json().isEmpty());
    EXPECT_TRUE(empty.secrets().isEmpty());
}

TEST(KestrovaMetadata, SecretsAreDecryptedOncePerConstruction)
{
    const DeviceKey key;
    QJsonObject secrets{
        {"weather", QJsonObject{{"api_key", key.encrypt("s3cr3t-ü")}, {"broken", "not base64 ciphertext"}}},
        {"menu", QJsonObject{{"token", key.encrypt("menu-token")}}},
    };
    const QJsonObject cipherData{{"secrets", secrets}, {"ignored", "x"}};

    LogCapture log;
    const KestrovaMetadata metadata(object(R"({"hostname": "h"})"), cipherData, Decrypter(key.keyPath()));
    // One failed secret, warned about once; the others decrypted.
    ASSERT_EQ(log.messages(google::GLOG_WARNING).size(), 1u);
    EXPECT_EQ(log.messages(google::GLOG_WARNING)[0].rfind("Can't decrypt data", 0), 0u);
    log.clear();

    const auto weather = metadata.appSecrets("weather");
    EXPECT_EQ(weather.value("api_key"), QString::fromUtf8("s3cr3t-ü"));
    ASSERT_TRUE(weather.contains("broken"));
    EXPECT_EQ(weather.value("broken"), "");
    EXPECT_EQ(metadata.appSecrets("menu").value("token"), "menu-token");
    // Copies share the decrypted values: no decryption, no log.
    const KestrovaMetadata copy = metadata;
    EXPECT_EQ(copy.appSecrets("menu").value("token"), "menu-token");
    EXPECT_TRUE(log.lines().empty());

    EXPECT_TRUE(metadata.appSecrets("clock").isEmpty());
    EXPECT_EQ(log.summary(), std::vector<std::string>{"I:App clock has no secrets."});
}

TEST(KestrovaMetadata, EmptyMetadataReadsNoSecrets)
{
    const QJsonObject cipherData{{"secrets", QJsonObject{{"weather", QJsonObject{{"api_key", "AAAA"}}}}}};
    LogCapture log;
    const KestrovaMetadata metadata(QJsonObject(), cipherData, Decrypter(QStringLiteral("/nonexistent/key.pem")));
    EXPECT_TRUE(metadata.isEmpty());
    EXPECT_TRUE(metadata.getHeaders().isEmpty());
    EXPECT_TRUE(log.lines().empty()) << "nothing may be decrypted";
    EXPECT_TRUE(metadata.appSecrets("weather").isEmpty());
    EXPECT_EQ(log.summary(), std::vector<std::string>{"I:App weather has no secrets."});
}
