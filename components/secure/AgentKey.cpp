#include "secure/AgentKey.h"

#include <QFile>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pelio::components::secure {

namespace {

constexpr long kValidDays = 36525;          // a hundred years: the pin is the trust, not the dates
constexpr qint64 kMaxFileSize = 64 * 1024;  // a key file is about 1 KiB
constexpr char kCommonName[] = "pelio-agent";

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

QString OpenSslError(const char* what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return QString::fromLatin1(what);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QStringLiteral("%1 (%2)").arg(QLatin1String(what), QLatin1String(text));
}

void SetError(QString* error, const QString& text) {
    if (error) *error = text;
}

bool AddExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A self-signed certificate for `key`, signed with SHA-256.
X509* SelfSigned(EVP_PKEY* key) {
    X509* certificate = X509_new();
    if (!certificate) return nullptr;
    unsigned char serial[16];
    bool ok = X509_set_version(certificate, X509_VERSION_3) == 1 && RAND_bytes(serial, sizeof serial) == 1;
    if (ok) {
        serial[0] &= 0x7f;  // a positive number
        BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
        ok = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
        BN_free(number);
    }
    ok = ok && X509_gmtime_adj(X509_getm_notBefore(certificate), -24 * 60 * 60) &&
         X509_time_adj_ex(X509_getm_notAfter(certificate), int(kValidDays), 0, nullptr) &&
         X509_set_pubkey(certificate, key) == 1;
    X509_NAME* name = X509_get_subject_name(certificate);
    ok = ok &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(kCommonName), -1, -1, 0) == 1 &&
         X509_set_issuer_name(certificate, name) == 1 &&
         AddExtension(certificate, NID_basic_constraints, "critical,CA:FALSE") &&
         AddExtension(certificate, NID_key_usage, "critical,digitalSignature") &&
         AddExtension(certificate, NID_ext_key_usage, "serverAuth") &&
         X509_sign(certificate, key, EVP_sha256()) > 0;
    if (!ok) {
        X509_free(certificate);
        return nullptr;
    }
    return certificate;
}

}  // namespace

struct AgentKey::Impl {
    Impl(EVP_PKEY* k, X509* c) : key(k), certificate(c) {}
    ~Impl() {
        EVP_PKEY_free(key);
        X509_free(certificate);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    EVP_PKEY* key;
    X509* certificate;
    Pin pin;
};

AgentKey::AgentKey() = default;
AgentKey::~AgentKey() = default;
AgentKey::AgentKey(const AgentKey&) = default;
AgentKey& AgentKey::operator=(const AgentKey&) = default;

std::optional<Pin> PinOfCertificate(const x509_st* certificate) {
    if (!certificate) return std::nullopt;
    // The whole SubjectPublicKeyInfo, algorithm included, as DER.
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    if (length <= 0) return std::nullopt;
    Pin pin;
    unsigned int digestLength = 0;
    const bool ok =
        EVP_Digest(der, std::size_t(length), pin.sha256.data(), &digestLength, EVP_sha256(), nullptr) == 1 &&
        digestLength == pin.sha256.size();
    OPENSSL_free(der);
    if (!ok) return std::nullopt;
    return pin;
}

// The key with its certificate (both owned from here on) and its pin; invalid when the pin cannot be
// taken.
AgentKey AgentKey::WithPin(evp_pkey_st* key, x509_st* certificate, QString* error) {
    AgentKey result;
    auto impl = std::make_shared<Impl>(key, certificate);
    const std::optional<Pin> pin = PinOfCertificate(certificate);
    if (!pin) {
        SetError(error, OpenSslError("cannot take the pin of the certificate"));
        return result;
    }
    impl->pin = *pin;
    result.d = std::move(impl);
    return result;
}

AgentKey AgentKey::Generate(QString* error) {
    AgentKey result;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) {
        SetError(error, OpenSslError("cannot make a key"));
        return result;
    }
    X509* certificate = SelfSigned(key);
    if (!certificate) {
        EVP_PKEY_free(key);
        SetError(error, OpenSslError("cannot make a certificate"));
        return result;
    }
    return WithPin(key, certificate, error);
}

AgentKey AgentKey::Load(const QString& path, QString* error) {
    AgentKey result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SetError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return result;
    }
    const QByteArray text = file.read(kMaxFileSize + 1);
    if (text.size() > kMaxFileSize) {
        SetError(error, QStringLiteral("%1 is too large for a key file").arg(path));
        return result;
    }
    // Each reader skips the blocks of other kinds, so the order in the file does not matter.
    BioPtr keyText(BIO_new_mem_buf(text.constData(), int(text.size())), BIO_free);
    BioPtr certificateText(BIO_new_mem_buf(text.constData(), int(text.size())), BIO_free);
    // No pass phrase is ever asked for: an encrypted key is no key file of ours.
    pem_password_cb* noPassPhrase = [](char*, int, int, void*) { return 0; };
    EVP_PKEY* key =
        keyText ? PEM_read_bio_PrivateKey(keyText.get(), nullptr, noPassPhrase, nullptr) : nullptr;
    X509* certificate =
        certificateText ? PEM_read_bio_X509(certificateText.get(), nullptr, noPassPhrase, nullptr) : nullptr;
    QString problem;
    if (!key)
        problem = QStringLiteral("no private key");
    else if (!certificate)
        problem = QStringLiteral("no certificate");
    else if (X509_check_private_key(certificate, key) != 1)
        problem = QStringLiteral("the certificate is not that of the key");
    ERR_clear_error();
    if (!problem.isEmpty()) {
        EVP_PKEY_free(key);
        X509_free(certificate);
        SetError(error, QStringLiteral("%1 is no key file: %2").arg(path, problem));
        return result;
    }
    return WithPin(key, certificate, error);
}

bool AgentKey::Save(const QString& path, QString* error) const {
    if (!d) {
        SetError(error, QStringLiteral("no key to write"));
        return false;
    }
    BioPtr pem(BIO_new(BIO_s_mem()), BIO_free);
    if (!pem || PEM_write_bio_PrivateKey(pem.get(), d->key, nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_X509(pem.get(), d->certificate) != 1) {
        SetError(error, OpenSslError("cannot encode the key"));
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(pem.get(), &data);
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetError(
            error,
            QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    int failure = ::fchmod(fd, 0600) == 0 ? 0 : errno;  // whatever the umask left
    long done = 0;
    while (failure == 0 && done < length) {
        const ssize_t n = ::write(fd, data + done, std::size_t(length - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            failure = n == 0 ? EIO : errno;
    }
    if (failure == 0 && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        ::unlink(name.constData());
        SetError(
            error,
            QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(failure))));
        return false;
    }
    return true;
}

bool AgentKey::IsValid() const {
    return d != nullptr;
}

Pin AgentKey::GetPin() const {
    return d ? d->pin : Pin{};
}

evp_pkey_st* AgentKey::Key() const {
    return d ? d->key : nullptr;
}

x509_st* AgentKey::Certificate() const {
    return d ? d->certificate : nullptr;
}

}  // namespace pelio::components::secure
