#include "sim/test_certs.h"

#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace sharelink::sim {
namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* item) const { Free(item); }
};
using CertPtr = std::unique_ptr<X509, Freer<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using NumberPtr = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION, X509_EXTENSION_free>>;

constexpr long kHour = 60 * 60;
constexpr int kLeafDays = 30;
constexpr int kCaDays = 365;
const char kCaName[] = "sharelink-sim test CA";

// what, and the reason OpenSSL queued for it; the queue is left empty.
bool fail(std::string& error, const std::string& what) {
  char text[256] = "";
  const unsigned long code = ERR_peek_last_error();
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  error = code != 0 ? what + ": " + text : what;
  return false;
}

BioPtr reading(const std::string& pem) {
  return BioPtr(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
}

// A key given with a password is refused rather than asked for on the terminal.
int no_password(char*, int, int, void*) {
  return 0;
}

CertPtr read_certificate(BIO* bio) {
  return CertPtr(PEM_read_bio_X509(bio, nullptr, no_password, nullptr));
}

KeyPtr read_key(const std::string& pem) {
  BioPtr text = reading(pem);
  return KeyPtr(text ? PEM_read_bio_PrivateKey(text.get(), nullptr, no_password, nullptr)
                     : nullptr);
}

std::string written(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool to_pem(X509* certificate, EVP_PKEY* key, TlsIdentity& identity, std::string& error) {
  BioPtr cert_text(BIO_new(BIO_s_mem()));
  BioPtr key_text(BIO_new(BIO_s_mem()));
  if (!cert_text || !key_text || PEM_write_bio_X509(cert_text.get(), certificate) != 1 ||
      PEM_write_bio_PrivateKey(key_text.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    return fail(error, "cannot write the certificate as PEM");
  }
  identity.certificate_pem = written(cert_text.get());
  identity.private_key_pem = written(key_text.get());
  return true;
}

bool add_extension(X509* certificate, X509V3_CTX& context, int nid, const char* value) {
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

struct Shape {
  std::string common_name;
  // Validity relative to now.
  int first_day;
  long first_seconds;
  int last_day;
  long last_seconds;
  // nid and value of each extension, in order (the key identifier before the
  // authority's, which a self-signed certificate takes from itself).
  std::vector<std::pair<int, const char*>> extensions;
};

// A certificate for key, signed by issuer_key as issuer (null: itself).
CertPtr make_certificate(const Shape& shape, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key) {
  CertPtr certificate(X509_new());
  unsigned char serial[16];
  if (!certificate || RAND_bytes(serial, sizeof serial) != 1) return nullptr;
  serial[0] &= 0x7f;  // a positive number
  NumberPtr number(BN_bin2bn(serial, sizeof serial, nullptr));
  X509* made = certificate.get();
  X509_NAME* subject = X509_get_subject_name(made);
  const auto* name = reinterpret_cast<const unsigned char*>(shape.common_name.c_str());
  const auto* organization = reinterpret_cast<const unsigned char*>("sharelink test");
  if (!number || X509_set_version(made, X509_VERSION_3) != 1 ||
      !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(made)) ||
      !X509_time_adj_ex(X509_getm_notBefore(made), shape.first_day, shape.first_seconds, nullptr) ||
      !X509_time_adj_ex(X509_getm_notAfter(made), shape.last_day, shape.last_seconds, nullptr) ||
      X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC, organization, -1, -1, 0) != 1 ||
      X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, name, -1, -1, 0) != 1 ||
      X509_set_issuer_name(made, X509_get_subject_name(issuer ? issuer : made)) != 1 ||
      X509_set_pubkey(made, key) != 1) {
    return nullptr;
  }
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer ? issuer : made, made, nullptr, nullptr, 0);
  for (const auto& [nid, value] : shape.extensions) {
    if (!add_extension(made, context, nid, value)) return nullptr;
  }
  if (X509_sign(made, issuer_key ? issuer_key : key, EVP_sha256()) <= 0) return nullptr;
  return certificate;
}

KeyPtr new_key() {
  return KeyPtr(EVP_EC_gen("P-256"));
}

}  // namespace

bool make_test_ca(TlsIdentity& ca, std::string& error) {
  KeyPtr key = new_key();
  if (!key) return fail(error, "cannot make a key");
  const Shape shape{kCaName,
                    0,
                    -kHour,
                    kCaDays,
                    0,
                    {{NID_basic_constraints, "critical,CA:TRUE"},
                     {NID_key_usage, "critical,keyCertSign,cRLSign"},
                     {NID_subject_key_identifier, "hash"},
                     {NID_authority_key_identifier, "keyid:always"}}};
  CertPtr certificate = make_certificate(shape, key.get(), nullptr, nullptr);
  if (!certificate) return fail(error, "cannot make the test CA certificate");
  return to_pem(certificate.get(), key.get(), ca, error);
}

bool make_test_leaf(const TlsIdentity& ca, LeafKind kind, TlsIdentity& leaf, std::string& error) {
  BioPtr ca_text = reading(ca.certificate_pem);
  CertPtr ca_certificate = ca_text ? read_certificate(ca_text.get()) : nullptr;
  KeyPtr ca_key = read_key(ca.private_key_pem);
  if (!ca_certificate || !ca_key) return fail(error, "cannot read the test CA");
  KeyPtr key = new_key();
  if (!key) return fail(error, "cannot make a key");
  const bool wrong_host = kind == LeafKind::wrong_host;
  Shape shape{
      wrong_host ? "wrong.example" : "localhost",
      0,
      -kHour,
      kLeafDays,
      0,
      {{NID_basic_constraints, "critical,CA:FALSE"},
       {NID_key_usage, "critical,digitalSignature"},
       {NID_ext_key_usage, "serverAuth"},
       {NID_subject_key_identifier, "hash"},
       {NID_authority_key_identifier, "keyid"},
       {NID_subject_alt_name, wrong_host ? "DNS:wrong.example" : "IP:127.0.0.1,DNS:localhost"}}};
  if (kind == LeafKind::expired) {
    shape.first_day = -kLeafDays;
    shape.first_seconds = 0;
    shape.last_day = -1;
  }
  CertPtr certificate = make_certificate(shape, key.get(), ca_certificate.get(), ca_key.get());
  if (!certificate) return fail(error, "cannot make the server certificate");
  return to_pem(certificate.get(), key.get(), leaf, error);
}

std::string hashed_file_name(const std::string& certificate_pem) {
  BioPtr text = reading(certificate_pem);
  CertPtr certificate = text ? read_certificate(text.get()) : nullptr;
  if (!certificate) {
    ERR_clear_error();
    return {};
  }
  char name[32];
  std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(certificate.get()));
  return name;
}

namespace {

bool write_file(const std::string& path, const std::string& text, std::string& error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace

bool write_ca_folder(const std::string& folder, const std::string& ca_pem, std::string& file,
                     std::string& error) {
  const std::string hashed = hashed_file_name(ca_pem);
  if (hashed.empty()) {
    error = "no CA certificate to write";
    return false;
  }
  struct stat info {};
  if (mkdir(folder.c_str(), 0755) != 0 &&
      (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
    error = "cannot make the folder " + folder + ": " + std::strerror(errno);
    return false;
  }
  char absolute[PATH_MAX];
  const std::string base = realpath(folder.c_str(), absolute) ? absolute : folder;
  file = base + "/ca.pem";
  return write_file(file, ca_pem, error) && write_file(base + "/" + hashed, ca_pem, error);
}

bool use_identity(SSL_CTX* ctx, const TlsIdentity& identity, std::string& error) {
  BioPtr chain = reading(identity.certificate_pem);
  CertPtr first = chain ? read_certificate(chain.get()) : nullptr;
  if (!first || SSL_CTX_use_certificate(ctx, first.get()) != 1) {
    return fail(error, "cannot use the TLS certificate");
  }
  while (CertPtr next = read_certificate(chain.get())) {
    if (SSL_CTX_add1_chain_cert(ctx, next.get()) != 1) {
      return fail(error, "cannot use the TLS certificate chain");
    }
  }
  ERR_clear_error();  // the end of the text, reported as a missing certificate
  KeyPtr key = read_key(identity.private_key_pem);
  if (!key || SSL_CTX_use_PrivateKey(ctx, key.get()) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
    return fail(error, "cannot use the TLS private key");
  }
  return true;
}

}  // namespace sharelink::sim
