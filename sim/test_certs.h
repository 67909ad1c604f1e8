#pragma once

// Throwaway certificates for serving the simulator over https: a test
// certificate authority made on the spot and server certificates it signs,
// good ones and the kinds a client must refuse. Nothing here is meant to be
// trusted beyond one test or one run of the program.

#include <string>

#include <openssl/types.h>

namespace sharelink::sim {

// A certificate (PEM; a chain may follow the first one) and its private key (PEM).
struct TlsIdentity {
  std::string certificate_pem;
  std::string private_key_pem;
};

enum class LeafKind {
  valid,       // for IP 127.0.0.1 and DNS localhost, valid from an hour ago for 30 days
  expired,     // the same names, expired yesterday
  wrong_host,  // valid now, for DNS wrong.example only
};

// A self-signed certificate authority, valid from an hour ago for a year. Its
// subject is the same every time, so that its hashed file name is too.
bool make_test_ca(TlsIdentity& ca, std::string& error);

// A server certificate of the given kind with a new key, signed by ca.
bool make_test_leaf(const TlsIdentity& ca, LeafKind kind, TlsIdentity& leaf, std::string& error);

// The name OpenSSL looks a certificate up by in a hashed directory
// (SSL_CERT_DIR, CURLOPT_CAPATH): the subject name hash and ".0". Empty when
// the text holds no certificate.
std::string hashed_file_name(const std::string& certificate_pem);

// Writes ca_pem into folder (made when missing) as ca.pem and under its hashed
// name, so that a client trusts it with SSL_CERT_FILE=FOLDER/ca.pem or
// SSL_CERT_DIR=FOLDER. file: ca.pem's path, absolute where it can be made so.
bool write_ca_folder(const std::string& folder, const std::string& ca_pem, std::string& file,
                     std::string& error);

// Makes ctx present identity: the first certificate, the chain after it and
// the key, which must belong to it.
bool use_identity(SSL_CTX* ctx, const TlsIdentity& identity, std::string& error);

}  // namespace sharelink::sim
