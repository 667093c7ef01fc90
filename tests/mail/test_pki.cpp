// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/mail/test_pki.h"

#include <cstdio>
#include <cstdlib>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdexcept>
#include <vector>

namespace {

constexpr long kHour = 3600;
constexpr long kDay = 24 * kHour;

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test certificate: ") + what);
    }
}

EVP_PKEY* new_key() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    require(key != nullptr, "key generation");
    return key;
}

void add_extension(X509* certificate, X509V3_CTX& context, int nid, const std::string& value) {
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    require(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1, value.c_str());
    X509_EXTENSION_free(extension);
}

// A certificate for key named common_name, signed by issuer (itself when null). names: subject alternative
// names of a server certificate, empty for an authority.
X509* make_certificate(EVP_PKEY* key, const std::string& common_name, X509* issuer, EVP_PKEY* issuer_key,
                       const std::string& names, long from, long to) {
    static long serial = 1;
    X509* certificate = X509_new();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), from);
    X509_gmtime_adj(X509_getm_notAfter(certificate), to);
    X509_set_pubkey(certificate, key);
    X509_NAME* subject = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1, 0);
    X509_set_issuer_name(certificate, issuer != nullptr ? X509_get_subject_name(issuer) : subject);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer != nullptr ? issuer : certificate, certificate, nullptr, nullptr, 0);
    add_extension(certificate, context, NID_subject_key_identifier, "hash");
    if (names.empty()) {
        add_extension(certificate, context, NID_basic_constraints, "critical,CA:TRUE");
        add_extension(certificate, context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        add_extension(certificate, context, NID_basic_constraints, "critical,CA:FALSE");
        add_extension(certificate, context, NID_ext_key_usage, "serverAuth");
        add_extension(certificate, context, NID_subject_alt_name, names);
        if (issuer != nullptr) {
            add_extension(certificate, context, NID_authority_key_identifier, "keyid");
        }
    }
    require(X509_sign(certificate, issuer_key != nullptr ? issuer_key : key, EVP_sha256()) > 0, "signature");
    return certificate;
}

void write_pem(const std::string& path, const std::vector<X509*>& certificates, EVP_PKEY* key) {
    FILE* file = std::fopen(path.c_str(), "w");
    require(file != nullptr, path.c_str());
    bool ok = true;
    for (X509* certificate : certificates) {
        ok = ok && PEM_write_X509(file, certificate) == 1;
    }
    if (key != nullptr) {
        ok = ok && PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    }
    ok = std::fclose(file) == 0 && ok;
    require(ok, path.c_str());
}

// The SHA-256 of the certificate's DER bytes, as "AB:CD:...": worked out from the bytes here, not by the
// certificate digest the client uses.
std::string fingerprint_of(X509* certificate) {
    unsigned char* der = nullptr;
    int size = i2d_X509(certificate, &der);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_size = 0;
    bool ok = size > 0 && EVP_Digest(der, static_cast<std::size_t>(size), digest, &digest_size, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    require(ok, "digest");
    std::string text;
    for (unsigned int i = 0; i < digest_size; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
        text += pair;
    }
    return text;
}

TestAuthority::Issued write_server(const std::string& dir, const std::string& stem, X509* certificate, EVP_PKEY* key,
                                   X509* authority) {
    TestAuthority::Issued issued{dir + "/" + stem + ".pem", dir + "/" + stem + "-key.pem", fingerprint_of(certificate)};
    std::vector<X509*> chain{certificate};
    if (authority != nullptr) {
        chain.push_back(authority);
    }
    write_pem(issued.certificate_file, chain, nullptr);
    write_pem(issued.key_file, {}, key);
    return issued;
}

} // namespace

TestAuthority::TestAuthority(std::string dir, std::string stem)
    : dir_(std::move(dir)), ca_file_(dir_ + "/" + stem + "-ca.pem"), key_(new_key()) {
    certificate_ = make_certificate(key_, stem + " test authority", nullptr, nullptr, "", -kHour, kDay);
    write_pem(ca_file_, {certificate_}, nullptr);
}

TestAuthority::~TestAuthority() {
    X509_free(certificate_);
    EVP_PKEY_free(key_);
}

TestAuthority::Issued TestAuthority::issue(const std::string& stem, const std::string& names, bool expired) const {
    EVP_PKEY* key = new_key();
    X509* certificate = make_certificate(key, stem, certificate_, key_, names, expired ? -kDay - kHour : -kHour,
                                         expired ? -kHour : kDay);
    Issued issued = write_server(dir_, stem, certificate, key, certificate_);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return issued;
}

TestAuthority::Issued TestAuthority::self_signed(const std::string& dir, const std::string& stem,
                                                 const std::string& names) {
    EVP_PKEY* key = new_key();
    X509* certificate = make_certificate(key, stem, nullptr, nullptr, names, -kHour, kDay);
    Issued issued = write_server(dir, stem, certificate, key, nullptr);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return issued;
}

TrustedAuthority::TrustedAuthority(const TestAuthority& authority) {
    if (const char* old = std::getenv("SSL_CERT_FILE")) {
        had_old_ = true;
        old_ = old;
    }
    setenv("SSL_CERT_FILE", authority.certificate_file().c_str(), 1);
}

TrustedAuthority::~TrustedAuthority() {
    if (had_old_) {
        setenv("SSL_CERT_FILE", old_.c_str(), 1);
    } else {
        unsetenv("SSL_CERT_FILE");
    }
}
