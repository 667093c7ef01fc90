// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

typedef struct evp_pkey_st EVP_PKEY;
typedef struct x509_st X509;

// A certificate authority and server certificates made at test time with OpenSSL (P-256 keys, SHA-256
// signatures), written as PEM files into a directory. Nothing comes from elsewhere.
class TestAuthority {
public:
    // What a server needs, and the fingerprint a user would pin.
    struct Issued {
        std::string certificate_file; // the server certificate, then the authority's when it has one
        std::string key_file;
        std::string fingerprint;      // SHA-256 of the server certificate, "AB:CD:..."
    };

    // Makes the authority's key and self-signed certificate: dir/<stem>-ca.pem.
    TestAuthority(std::string dir, std::string stem);
    ~TestAuthority();
    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

    // The authority's certificate, for a trust store.
    const std::string& certificate_file() const { return ca_file_; }

    // A server certificate for the subject alternative names ("DNS:pop.example.org,IP:127.0.0.1"), valid for a day
    // from an hour ago, or, when expired, for the day that ended an hour ago.
    Issued issue(const std::string& stem, const std::string& names, bool expired = false) const;

    // A server certificate signed by its own key, as a home server makes one.
    static Issued self_signed(const std::string& dir, const std::string& stem, const std::string& names);

private:
    std::string dir_;
    std::string ca_file_;
    EVP_PKEY* key_ = nullptr;
    X509* certificate_ = nullptr;
};

// Makes an authority's certificate the trust store that OpenSSL's default paths load (SSL_CERT_FILE) while the
// object lives, in place of the system's bundle file.
class TrustedAuthority {
public:
    explicit TrustedAuthority(const TestAuthority& authority);
    ~TrustedAuthority();
    TrustedAuthority(const TrustedAuthority&) = delete;
    TrustedAuthority& operator=(const TrustedAuthority&) = delete;

private:
    std::string old_;
    bool had_old_ = false;
};
