// Signing an installer into a package: PKCS #7 signed data in DER that
// carries the installer as its content.
#pragma once

#include <string>
#include <vector>

#include "tools/publish/certificates.h"

namespace publish {

// The package for `content`, signed by `signer` with `key`: SHA-256, the
// usual signed attributes (content type, signing time, capabilities and the
// content's digest), the content carried inside (not detached) and taken
// byte for byte (binary, no line-end translation), and the signer's
// certificate followed by `chain`, the certificates between the signer and
// the authority. This is what `openssl smime -sign -nodetach -binary
// -outform DER -md sha256` writes, a form crypt32's
// CryptVerifyMessageSignature and OpenSSL both verify.
std::string SignPackage(const std::string& content, X509* signer, EVP_PKEY* key, const std::vector<X509*>& chain);

}  // namespace publish
