// The table of signed packages that tests/pki/make_pki.py makes, with the
// verdict the signature check must give each, shared by the host's OpenSSL
// adapter tests and the CryptoAPI adapter tests under wine.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "transfer/signature_verifier.h"

struct SignedPackageCase {
  const char* file;                 // in the packages folder, without ".p7"
  VerificationFailure failure;      // kNone: the package verifies
  const char* content = "content";  // for one that verifies: "content" (content.bin) or "empty"
};

const std::vector<SignedPackageCase>& SignedPackageCases();

// A name for the parameterised test of a case.
std::string SignedPackageCaseName(const SignedPackageCase& c);
std::ostream& operator<<(std::ostream& out, const SignedPackageCase& c);

// The folder the test-only variable VEXEL_TEST_PACKAGES names, or empty
// when it is not set.
std::filesystem::path SignedPackageFolder();

// Whether this build makes the packages (its authority's key is known), so
// that a test which finds no folder fails instead of skipping.
bool SignedPackagesMade();

// Verifies the case's package with the platform's cryptographic library and
// the built-in authority, and checks the verdict, the failing step and (for
// a package that verifies) the content byte for byte.
void CheckSignedPackage(const SignedPackageCase& c);
