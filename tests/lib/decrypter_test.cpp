// Decrypting base64 RSA OAEP texts with keys in files and on real PKCS#11 tokens. Keys and
// ciphertexts are made with openssl when the tests start; the tokens are SoftHSM2 (which
// refuses OAEP with SHA-256, so it serves the failure paths) and opencryptoki's software
// token (which decrypts for real).
#include "decrypter.h"
#include "logging.h"

#include "../support/logcapture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Matcher;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using testsupport::LogCapture;

namespace {

const QString softhsmModule = QStringLiteral("/usr/lib/softhsm/libsofthsm2.so");
const QString opencryptokiModule = QStringLiteral("/usr/lib/x86_64-linux-gnu/opencryptoki/libopencryptoki.so.0");
const QString openscModule = QStringLiteral("/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so");
const QString tokenScript = QStringLiteral(KESTROVA_FIXTURES_DIR "/pkcs11-tokens.sh");

// Standard output of a program that ran to a zero exit, or why it did not.
struct RunResult {
    QByteArray out;
    QString error;
};

RunResult run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(-1))
        return {{}, QStringLiteral("%1 did not start: %2").arg(program, process.errorString())};
    process.closeWriteChannel();
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {{}, QStringLiteral("%1 %2 failed: %3")
                        .arg(program, args.join(QLatin1Char(' ')),
                             QString::fromLocal8Bit(process.readAllStandardError()))};
    return {process.readAllStandardOutput(), {}};
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Keys for the whole run: RSA key "a" (PEM and DER), RSA key "b", an EC key, files that
// hold no key, and SoftHSM2 tokens "a" (key "a" labelled kestrova) and "other" (key "a"
// labelled otherwise).
class Material {
public:
    static Material& get()
    {
        static Material material;
        return material;
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString softhsmConf(const QString& token) const { return path(QStringLiteral("hsm-%1/softhsm2.conf").arg(token)); }
    // Why the material could not be made; empty when it is all there.
    const QString& error() const { return m_error; }

    // Base64 of `plain` encrypted by openssl for the public key of RSA key `key`.
    RunResult encrypt(const QString& key, const QByteArray& plain)
    {
        const QString in = path(QStringLiteral("plain-%1").arg(m_counter++));
        if (!writeFile(in, plain))
            return {{}, QStringLiteral("can't write %1").arg(in)};
        RunResult result = run(QStringLiteral("openssl"),
                               {"pkeyutl", "-encrypt", "-pubin", "-inkey", path(key + ".pub.pem"), "-in", in,
                                "-pkeyopt", "rsa_padding_mode:oaep", "-pkeyopt", "rsa_oaep_md:sha256", "-pkeyopt",
                                "rsa_mgf1_md:sha256"});
        result.out = result.out.toBase64();
        return result;
    }

private:
    Material()
    {
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no temporary directory");
            return;
        }
        const QString openssl = QStringLiteral("openssl");
        const std::vector<std::pair<QString, QStringList>> steps = {
            {openssl, {"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path("a.pem")}},
            {openssl, {"pkcs8", "-topk8", "-nocrypt", "-in", path("a.pem"), "-outform", "DER", "-out", path("a.der")}},
            {openssl, {"pkey", "-in", path("a.pem"), "-pubout", "-out", path("a.pub.pem")}},
            {openssl, {"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", path("b.pem")}},
            {openssl, {"pkey", "-in", path("b.pem"), "-pubout", "-out", path("b.pub.pem")}},
            {openssl, {"genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", path("ec.pem")}},
            {tokenScript, {"softhsm", path("hsm-a"), path("a.pem"), "kestrova"}},
            {tokenScript, {"softhsm", path("hsm-other"), path("a.pem"), "someone-else"}},
        };
        for (const auto& [program, args] : steps) {
            m_error = run(program, args).error;
            if (!m_error.isEmpty())
                return;
        }
        if (!writeFile(path("notakey.txt"), "This is a note, not a key.\n") || !writeFile(path("empty.key"), {}))
            m_error = QStringLiteral("can't write files into %1").arg(m_dir.path());
    }

    QTemporaryDir m_dir;
    QString m_error;
    int m_counter = 0;
};

// Sets (or, given nothing, removes) an environment variable, and puts back the old value.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<QString>& value)
        : m_name(name)
        , m_old(qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt)
    {
        set(value ? std::optional<QByteArray>(value->toLocal8Bit()) : std::nullopt);
    }
    ~ScopedEnv() { set(m_old); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<QByteArray>& value)
    {
        if (value)
            qputenv(m_name, *value);
        else
            qunsetenv(m_name);
    }

    const char* m_name;
    std::optional<QByteArray> m_old;
};

// Token settings are absent unless a test sets them.
class DecrypterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(material().error().isEmpty()) << material().error(); }

    Material& material() { return Material::get(); }

    QString encrypt(const QString& key, const QByteArray& plain)
    {
        const RunResult result = material().encrypt(key, plain);
        EXPECT_TRUE(result.error.isEmpty()) << result.error;
        return QString::fromLatin1(result.out);
    }

    ScopedEnv m_module{"PKCS11_MODULE_PATH", std::nullopt};
    ScopedEnv m_pin{"PKCS11_STORE_PIN", std::nullopt};
    ScopedEnv m_softhsm{"SOFTHSM2_CONF", std::nullopt};
};

const QString greeting = QStringLiteral("grüße");

TEST_F(DecrypterTest, PemAndDerKeysDecryptAlike)
{
    // 190 bytes is the most that OAEP with SHA-256 fits into a 2048-bit key.
    const QString longest = QString(QStringLiteral("ß")).repeated(90) + QStringLiteral("0123456789");
    ASSERT_EQ(longest.toUtf8().size(), 190);
    for (const QString& plain : {greeting, longest}) {
        SCOPED_TRACE(plain.toStdString());
        const QString cipherText = encrypt("a", plain.toUtf8());
        for (const char* key : {"a.pem", "a.der"}) {
            SCOPED_TRACE(key);
            LogCapture log;
            EXPECT_EQ(Decrypter(material().path(key)).decrypt(cipherText), plain);
            EXPECT_THAT(log.summary(), ElementsAre());
        }
    }
}

TEST_F(DecrypterTest, Base64SkipsLineBreaksAndOtherStrayCharacters)
{
    const QString cipherText = encrypt("a", greeting.toUtf8());
    auto broken = [&](int every, const QString& separator) {
        QString text;
        for (int i = 0; i < cipherText.size(); i += every)
            text += cipherText.mid(i, every) + separator;
        return text;
    };
    struct Case {
        const char* name;
        QString text;
    };
    const Case cases[] = {
        {"one line", cipherText},
        {"lines of 64 with LF", broken(64, "\n")},
        {"lines of 76 with CRLF", broken(76, "\r\n")},
        {"a break after every character", broken(1, "\n")},
        {"spaces, tabs and stars", broken(7, " \t*")},
        {"leading and trailing blank lines", "\n\n" + cipherText + "\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(Decrypter(material().path("a.pem")).decrypt(c.text), greeting);
        EXPECT_THAT(log.summary(), ElementsAre());
    }
}

TEST_F(DecrypterTest, FailuresLogWhyAndGiveNothing)
{
    const QString forA = encrypt("a", greeting.toUtf8());
    const QString forB = encrypt("b", greeting.toUtf8());
    const QString emptyForA = encrypt("a", {});
    const QByteArray cipherBytes = QByteArray::fromBase64(forA.toLatin1());
    QByteArray flipped = cipherBytes;
    flipped[100] = char(flipped[100] ^ 0x01);
    const auto warning = [](const std::string& text) { return Matcher<std::string>("W:" + text); };
    // The cause, whatever Botan calls it, follows the colon.
    const auto decryptFailure = MatchesRegex("W:Can't decrypt data: .+");
    struct Case {
        const char* name;
        QString keyPath;
        QString cipherText;
        std::vector<Matcher<std::string>> log;
    };
    const Case cases[] = {
        {"no key path", {}, forA, {warning("Path to private key is empty.")}},
        {"missing key file", material().path("missing.pem"), forA,
         {warning("Can't open private key file."), warning("Can't decrypt data.")}},
        {"key path is a directory", material().path("."), forA,
         {warning("Can't open private key file."), warning("Can't decrypt data.")}},
        {"ciphertext for another key", material().path("a.pem"), forB, {decryptFailure}},
        {"one bit flipped", material().path("a.pem"), flipped.toBase64(), {decryptFailure}},
        {"truncated ciphertext", material().path("a.pem"), cipherBytes.left(200).toBase64(), {decryptFailure}},
        {"ciphertext twice as long", material().path("a.pem"), (cipherBytes + cipherBytes).toBase64(),
         {decryptFailure}},
        {"text that is not base64", material().path("a.pem"), "this is not base64 at all!", {decryptFailure}},
        {"empty ciphertext", material().path("a.pem"), "", {decryptFailure}},
        {"EC key", material().path("ec.pem"), forA, {warning("Can't decrypt data: Private key is ECDSA, not RSA")}},
        {"file that holds no key", material().path("notakey.txt"), forA, {decryptFailure}},
        {"empty key file", material().path("empty.key"), forA, {decryptFailure}},
        {"empty plaintext", material().path("a.pem"), emptyForA, {warning("Can't decrypt data.")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(Decrypter(c.keyPath).decrypt(c.cipherText), QString());
        EXPECT_THAT(log.summary(), ElementsAreArray(c.log));
    }
}

TEST_F(DecrypterTest, OnlyLowerCaseTpmMeansTheToken)
{
    // Key files named like the token switch, in the working directory.
    struct RestoreDir {
        QString path;
        ~RestoreDir() { QDir::setCurrent(path); }
    } restoreDir{QDir::currentPath()};
    const QString dir = material().path("switch");
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(QFile::copy(material().path("a.pem"), dir + "/TPM") || QFile::exists(dir + "/TPM"));
    ASSERT_TRUE(QFile::copy(material().path("a.pem"), dir + "/tpm") || QFile::exists(dir + "/tpm"));
    ASSERT_TRUE(QDir::setCurrent(dir));
    const QString cipherText = encrypt("a", greeting.toUtf8());

    LogCapture log;
    EXPECT_EQ(Decrypter("TPM").decrypt(cipherText), greeting);
    EXPECT_EQ(Decrypter("tpm").decrypt(cipherText), QString());
    EXPECT_THAT(log.summary(), ElementsAre("W:Can't decrypt data: PKCS11_MODULE_PATH is not set"));
}

TEST_F(DecrypterTest, TokenFailures)
{
    const QString cipherText = encrypt("a", greeting.toUtf8());
    const QString hsm = material().softhsmConf("a");
    const auto failure = [](const std::string& text) {
        return Matcher<std::string>("W:Can't decrypt data: " + text);
    };
    struct Case {
        const char* name;
        std::optional<QString> module;
        std::optional<QString> pin;
        QString softhsmConf;
        Matcher<std::string> log;
    };
    // One after the other in one process: each call must start from nothing, so a call
    // after a successful login still checks its own PIN.
    const Case cases[] = {
        {"SoftHSM refuses OAEP with SHA-256", softhsmModule, "1234", hsm,
         StartsWith("W:Can't decrypt data: C_Decrypt")},
        {"wrong PIN", softhsmModule, "4321", hsm, failure("C_Login failed: CKR_PIN_INCORRECT")},
        {"empty PIN", softhsmModule, "", hsm, failure("C_Login failed: CKR_PIN_INCORRECT")},
        {"no PIN", softhsmModule, std::nullopt, hsm, failure("PKCS11_STORE_PIN is not set")},
        {"no module", std::nullopt, "1234", hsm, failure("PKCS11_MODULE_PATH is not set")},
        {"empty module path", "", "1234", hsm, failure("PKCS11_MODULE_PATH is not set")},
        {"module file missing", material().path("missing.so"), "1234", hsm,
         StartsWith("W:Can't decrypt data: Can't load PKCS#11 module: ")},
        {"module is not a library", material().path("notakey.txt"), "1234", hsm,
         StartsWith("W:Can't decrypt data: Can't load PKCS#11 module: ")},
        {"library without Cryptoki", "libc.so.6", "1234", hsm, failure("Not a PKCS#11 module: libc.so.6")},
        {"no key labelled kestrova", softhsmModule, "1234", material().softhsmConf("other"),
         failure("No private key labelled \"kestrova\" on the token")},
        {"no token at all", openscModule, "1234", hsm, failure("No slot with a token present")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv module("PKCS11_MODULE_PATH", c.module);
        ScopedEnv pin("PKCS11_STORE_PIN", c.pin);
        ScopedEnv conf("SOFTHSM2_CONF", c.softhsmConf);
        LogCapture log;
        EXPECT_EQ(Decrypter("tpm").decrypt(cipherText), QString());
        EXPECT_THAT(log.summary(), ElementsAre(c.log));
    }
}

TEST_F(DecrypterTest, OpencryptokiSoftTokenDecrypts)
{
    // The token's state is global to the machine: wiped and set up again with key "a".
    const RunResult setUp = run(tokenScript, {"opencryptoki", material().path("a.der"), "kestrova"});
    ASSERT_TRUE(setUp.error.isEmpty()) << "opencryptoki's software token can't be set up: " << setUp.error;

    const QString cipherText = encrypt("a", greeting.toUtf8());
    ScopedEnv module("PKCS11_MODULE_PATH", opencryptokiModule);
    const Decrypter decrypter("tpm");
    struct Step {
        const char* name;
        QString pin;
        QString plain;
        std::vector<std::string> log;
    };
    // Nothing survives a call: a wrong PIN in between is noticed, and a failed call
    // leaves nothing behind that spoils the next one.
    const Step steps[] = {
        {"right PIN", "1234", greeting, {}},
        {"wrong PIN", "9999", {}, {"W:Can't decrypt data: C_Login failed: CKR_PIN_INCORRECT"}},
        {"right PIN again", "1234", greeting, {}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        ScopedEnv pin("PKCS11_STORE_PIN", s.pin);
        LogCapture log;
        EXPECT_EQ(decrypter.decrypt(cipherText), s.plain);
        EXPECT_THAT(log.summary(), ElementsAreArray(s.log));
    }

    // Text for another key is refused by the token itself.
    ScopedEnv pin("PKCS11_STORE_PIN", QStringLiteral("1234"));
    LogCapture log;
    EXPECT_EQ(decrypter.decrypt(encrypt("b", greeting.toUtf8())), QString());
    EXPECT_THAT(log.summary(), ElementsAre(StartsWith("W:Can't decrypt data: C_Decrypt failed: CKR_")));
}

} // namespace
