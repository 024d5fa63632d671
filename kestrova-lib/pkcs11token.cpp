#include "pkcs11token.h"

#include <p11-kit/pkcs11.h>

#include <dlfcn.h>

#include <vector>

namespace {

QString returnValueName(CK_RV rv)
{
#define NAME(rv) \
    case rv:     \
        return QStringLiteral(#rv);
    switch (rv) {
        NAME(CKR_OK) NAME(CKR_CANCEL) NAME(CKR_HOST_MEMORY) NAME(CKR_SLOT_ID_INVALID) NAME(CKR_GENERAL_ERROR)
        NAME(CKR_FUNCTION_FAILED) NAME(CKR_ARGUMENTS_BAD) NAME(CKR_NO_EVENT) NAME(CKR_NEED_TO_CREATE_THREADS)
        NAME(CKR_CANT_LOCK) NAME(CKR_ATTRIBUTE_READ_ONLY) NAME(CKR_ATTRIBUTE_SENSITIVE)
        NAME(CKR_ATTRIBUTE_TYPE_INVALID) NAME(CKR_ATTRIBUTE_VALUE_INVALID) NAME(CKR_ACTION_PROHIBITED)
        NAME(CKR_DATA_INVALID) NAME(CKR_DATA_LEN_RANGE) NAME(CKR_DEVICE_ERROR) NAME(CKR_DEVICE_MEMORY)
        NAME(CKR_DEVICE_REMOVED) NAME(CKR_ENCRYPTED_DATA_INVALID) NAME(CKR_ENCRYPTED_DATA_LEN_RANGE)
        NAME(CKR_FUNCTION_CANCELED) NAME(CKR_FUNCTION_NOT_PARALLEL) NAME(CKR_FUNCTION_NOT_SUPPORTED)
        NAME(CKR_KEY_HANDLE_INVALID) NAME(CKR_KEY_SIZE_RANGE) NAME(CKR_KEY_TYPE_INCONSISTENT)
        NAME(CKR_KEY_NOT_NEEDED) NAME(CKR_KEY_CHANGED) NAME(CKR_KEY_NEEDED) NAME(CKR_KEY_INDIGESTIBLE)
        NAME(CKR_KEY_FUNCTION_NOT_PERMITTED) NAME(CKR_KEY_NOT_WRAPPABLE) NAME(CKR_KEY_UNEXTRACTABLE)
        NAME(CKR_MECHANISM_INVALID) NAME(CKR_MECHANISM_PARAM_INVALID) NAME(CKR_OBJECT_HANDLE_INVALID)
        NAME(CKR_OPERATION_ACTIVE) NAME(CKR_OPERATION_NOT_INITIALIZED) NAME(CKR_PIN_INCORRECT)
        NAME(CKR_PIN_INVALID) NAME(CKR_PIN_LEN_RANGE) NAME(CKR_PIN_EXPIRED) NAME(CKR_PIN_LOCKED)
        NAME(CKR_SESSION_CLOSED) NAME(CKR_SESSION_COUNT) NAME(CKR_SESSION_HANDLE_INVALID)
        NAME(CKR_SESSION_PARALLEL_NOT_SUPPORTED) NAME(CKR_SESSION_READ_ONLY) NAME(CKR_SESSION_EXISTS)
        NAME(CKR_SESSION_READ_ONLY_EXISTS) NAME(CKR_SESSION_READ_WRITE_SO_EXISTS) NAME(CKR_SIGNATURE_INVALID)
        NAME(CKR_SIGNATURE_LEN_RANGE) NAME(CKR_TEMPLATE_INCOMPLETE) NAME(CKR_TEMPLATE_INCONSISTENT)
        NAME(CKR_TOKEN_NOT_PRESENT) NAME(CKR_TOKEN_NOT_RECOGNIZED) NAME(CKR_TOKEN_WRITE_PROTECTED)
        NAME(CKR_UNWRAPPING_KEY_SIZE_RANGE) NAME(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT)
        NAME(CKR_USER_ALREADY_LOGGED_IN) NAME(CKR_USER_NOT_LOGGED_IN) NAME(CKR_USER_PIN_NOT_INITIALIZED)
        NAME(CKR_USER_TYPE_INVALID) NAME(CKR_USER_ANOTHER_ALREADY_LOGGED_IN) NAME(CKR_USER_TOO_MANY_TYPES)
        NAME(CKR_WRAPPED_KEY_INVALID) NAME(CKR_WRAPPED_KEY_LEN_RANGE) NAME(CKR_WRAPPING_KEY_HANDLE_INVALID)
        NAME(CKR_WRAPPING_KEY_SIZE_RANGE) NAME(CKR_WRAPPING_KEY_TYPE_INCONSISTENT)
        NAME(CKR_RANDOM_SEED_NOT_SUPPORTED) NAME(CKR_RANDOM_NO_RNG) NAME(CKR_DOMAIN_PARAMS_INVALID)
        NAME(CKR_CURVE_NOT_SUPPORTED) NAME(CKR_BUFFER_TOO_SMALL) NAME(CKR_SAVED_STATE_INVALID)
        NAME(CKR_INFORMATION_SENSITIVE) NAME(CKR_STATE_UNSAVEABLE) NAME(CKR_CRYPTOKI_NOT_INITIALIZED)
        NAME(CKR_CRYPTOKI_ALREADY_INITIALIZED) NAME(CKR_MUTEX_BAD) NAME(CKR_MUTEX_NOT_LOCKED)
        NAME(CKR_NEW_PIN_MODE) NAME(CKR_NEXT_OTP) NAME(CKR_EXCEEDED_MAX_ITERATIONS)
        NAME(CKR_FIPS_SELF_TEST_FAILED) NAME(CKR_LIBRARY_LOAD_FAILED) NAME(CKR_PIN_TOO_WEAK)
        NAME(CKR_PUBLIC_KEY_INVALID) NAME(CKR_FUNCTION_REJECTED)
    default:
        break;
    }
#undef NAME
    return QStringLiteral("CKR 0x%1").arg(qulonglong(rv), 8, 16, QLatin1Char('0'));
}

QString failed(const char* function, CK_RV rv)
{
    return QStringLiteral("%1 failed: %2").arg(QLatin1String(function), returnValueName(rv));
}

// One pass through a module, from loading it to a finished decryption. What was set up is
// released in reverse order when the object goes, so every early return cleans up.
class TokenSession {
public:
    TokenSession() = default;
    ~TokenSession();
    TokenSession(const TokenSession&) = delete;
    TokenSession& operator=(const TokenSession&) = delete;

    // Each step answers an error description, or an empty text when it succeeded.
    QString load(const QByteArray& modulePath);
    QString logIn(QByteArray pin);
    QString findPrivateKey(const QString& label);
    QString decrypt(QByteArray cipherText, QByteArray& plaintext);

private:
    void* m_library = nullptr;
    CK_FUNCTION_LIST_PTR m_p11 = nullptr;
    bool m_initialized = false;
    CK_SESSION_HANDLE m_session = 0;
    bool m_sessionOpen = false;
    bool m_loggedIn = false;
    CK_OBJECT_HANDLE m_key = 0;
};

TokenSession::~TokenSession()
{
    if (m_loggedIn)
        m_p11->C_Logout(m_session);
    if (m_sessionOpen)
        m_p11->C_CloseSession(m_session);
    if (m_initialized)
        m_p11->C_Finalize(nullptr);
    if (m_library)
        dlclose(m_library);
}

QString TokenSession::load(const QByteArray& modulePath)
{
    // The module is finalised and closed after every use, but never unmapped: modules built
    // with transactional memory (opencryptoki) leave libitm state behind in the thread, and
    // once libitm is mapped anew the next C_Initialize crashes.
    m_library = dlopen(modulePath.constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_library)
        return QStringLiteral("Can't load PKCS#11 module: %1").arg(QString::fromLocal8Bit(dlerror()));
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(m_library, "C_GetFunctionList"));
    if (!getFunctionList)
        return QStringLiteral("Not a PKCS#11 module: %1").arg(QString::fromLocal8Bit(modulePath));
    CK_RV rv = getFunctionList(&m_p11);
    if (rv != CKR_OK || !m_p11)
        return failed("C_GetFunctionList", rv);

    CK_C_INITIALIZE_ARGS args = {};
    args.flags = CKF_OS_LOCKING_OK;
    rv = m_p11->C_Initialize(&args);
    // Someone else in this process initialised the module; it stays theirs to finalise.
    if (rv == CKR_CRYPTOKI_ALREADY_INITIALIZED)
        return {};
    if (rv != CKR_OK)
        return failed("C_Initialize", rv);
    m_initialized = true;
    return {};
}

QString TokenSession::logIn(QByteArray pin)
{
    CK_ULONG count = 0;
    CK_RV rv = m_p11->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK)
        return failed("C_GetSlotList", rv);
    std::vector<CK_SLOT_ID> slots(count);
    if (count > 0) {
        rv = m_p11->C_GetSlotList(CK_TRUE, slots.data(), &count);
        if (rv != CKR_OK)
            return failed("C_GetSlotList", rv);
    }
    if (count == 0)
        return QStringLiteral("No slot with a token present");

    rv = m_p11->C_OpenSession(slots.front(), CKF_SERIAL_SESSION, nullptr, nullptr, &m_session);
    if (rv != CKR_OK)
        return failed("C_OpenSession", rv);
    m_sessionOpen = true;

    rv = m_p11->C_Login(m_session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), CK_ULONG(pin.size()));
    // Already logged in through another session of this process: that login is not ours.
    if (rv == CKR_USER_ALREADY_LOGGED_IN)
        return {};
    if (rv != CKR_OK)
        return failed("C_Login", rv);
    m_loggedIn = true;
    return {};
}

QString TokenSession::findPrivateKey(const QString& label)
{
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    QByteArray labelBytes = label.toUtf8();
    CK_ATTRIBUTE match[] = {
        {CKA_CLASS, &keyClass, sizeof keyClass},
        {CKA_LABEL, labelBytes.data(), CK_ULONG(labelBytes.size())},
    };
    CK_RV rv = m_p11->C_FindObjectsInit(m_session, match, sizeof match / sizeof match[0]);
    if (rv != CKR_OK)
        return failed("C_FindObjectsInit", rv);
    CK_ULONG found = 0;
    rv = m_p11->C_FindObjects(m_session, &m_key, 1, &found);
    m_p11->C_FindObjectsFinal(m_session);
    if (rv != CKR_OK)
        return failed("C_FindObjects", rv);
    if (found == 0)
        return QStringLiteral("No private key labelled \"%1\" on the token").arg(label);
    return {};
}

QString TokenSession::decrypt(QByteArray cipherText, QByteArray& plaintext)
{
    CK_RSA_PKCS_OAEP_PARAMS params = {};
    params.hashAlg = CKM_SHA256;
    params.mgf = CKG_MGF1_SHA256;
    params.source = CKZ_DATA_SPECIFIED;
    params.pSourceData = nullptr;
    params.ulSourceDataLen = 0;
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_OAEP, &params, sizeof params};
    CK_RV rv = m_p11->C_DecryptInit(m_session, &mechanism, m_key);
    if (rv != CKR_OK)
        return failed("C_DecryptInit", rv);

    auto input = reinterpret_cast<CK_BYTE_PTR>(cipherText.data());
    CK_ULONG length = 0;
    rv = m_p11->C_Decrypt(m_session, input, CK_ULONG(cipherText.size()), nullptr, &length);
    if (rv != CKR_OK)
        return failed("C_Decrypt", rv);
    // No RSA key gives more than a few kilobytes; anything beyond is the module's mistake.
    if (length > 65536)
        return QStringLiteral("C_Decrypt announced %1 bytes of plaintext").arg(length);
    plaintext.resize(int(length));
    rv = m_p11->C_Decrypt(m_session, input, CK_ULONG(cipherText.size()),
                          reinterpret_cast<CK_BYTE_PTR>(plaintext.data()), &length);
    if (rv != CKR_OK) {
        plaintext.clear();
        return failed("C_Decrypt", rv);
    }
    plaintext.resize(int(qMin(length, CK_ULONG(plaintext.size()))));
    return {};
}

} // namespace

TokenResult decryptOnToken(const QByteArray& cipherText, const QString& label)
{
    const QByteArray modulePath = qgetenv("PKCS11_MODULE_PATH");
    // An empty name would make dlopen hand back the program itself.
    if (modulePath.isEmpty())
        return {{}, QStringLiteral("PKCS11_MODULE_PATH is not set")};
    if (!qEnvironmentVariableIsSet("PKCS11_STORE_PIN"))
        return {{}, QStringLiteral("PKCS11_STORE_PIN is not set")};
    const QByteArray pin = qgetenv("PKCS11_STORE_PIN");

    TokenSession token;
    TokenResult result;
    result.error = token.load(modulePath);
    if (result.error.isEmpty())
        result.error = token.logIn(pin);
    if (result.error.isEmpty())
        result.error = token.findPrivateKey(label);
    if (result.error.isEmpty())
        result.error = token.decrypt(cipherText, result.plaintext);
    return result;
}
