// The agent's key: an EC P-256 private key and a self-signed certificate for it, kept together in one
// file as PEM (the key in PKCS#8, then the certificate), readable by its owner only. The agent's
// program presents the certificate in the TLS handshake; the customer's program trusts it through its
// pin (Pin.h) alone, so the certificate's names and dates mean nothing and it never needs renewing.
//
// An AgentKey is a value: copies share the same key, which nothing changes. Any thread.
#pragma once

#include "secure/Pin.h"

#include <QString>

#include <memory>

struct evp_pkey_st;
struct x509_st;

namespace pelio::components::secure {

class AgentKey {
  public:
    AgentKey();
    ~AgentKey();
    AgentKey(const AgentKey&);
    AgentKey& operator=(const AgentKey&);

    // A new key with its certificate (valid for a hundred years); an invalid key, with the reason in
    // `error`, when it could not be made.
    static AgentKey Generate(QString* error = nullptr);
    // The key file at `path`; an invalid key, with the reason in `error`, when the file cannot be read
    // or does not hold one private key and a certificate of that key.
    static AgentKey Load(const QString& path, QString* error = nullptr);

    // Writes the key file to `path`, which must not exist yet, with mode 0600. False, with the reason
    // in `error`, when the key is invalid, the file exists or cannot be written completely; a file
    // begun is removed again then.
    bool Save(const QString& path, QString* error = nullptr) const;

    bool IsValid() const;
    // The pin of the certificate's key; all zero for an invalid key.
    Pin GetPin() const;

  private:
    friend class TlsTunnel;
    evp_pkey_st* Key() const;
    x509_st* Certificate() const;

    struct Impl;
    static AgentKey WithPin(evp_pkey_st* key, x509_st* certificate, QString* error);
    std::shared_ptr<const Impl> d;
};

// The pin of a certificate: the SHA-256 of its DER SubjectPublicKeyInfo. Nothing for a null
// certificate or one whose key cannot be encoded.
std::optional<Pin> PinOfCertificate(const x509_st* certificate);

}  // namespace pelio::components::secure
