// Verifying a package exactly as the updater does: with the updater's own
// SignatureVerifier and the platform's cryptographic library, and telling
// the reason for a refusal in words.
#pragma once

#include <string>

#include "platform/step.h"
#include "transfer/signature_verifier.h"

namespace publish {

struct PackageVerdict {
  bool accepted = false;
  VerificationFailure failure = VerificationFailure::kNone;  // where the check stopped
  platform::ErrorNumber error = 0;                           // the thread's last error after a refusal
  std::string content;                                       // the signed installer, when accepted
};

// The updater's verdict on `package` against the DER certificate
// `authority` (the updater's own is BuiltInCaCertificate).
PackageVerdict CheckPackage(const std::string& package, const std::string& authority);

// A short fixed name of the step ("chain link"), for the verdict's last line.
const char* FailureStepName(VerificationFailure failure);

// Why the updater refuses the package, in one plain sentence, from the step
// that failed and the error number it left.
std::string RefusalReason(VerificationFailure failure, platform::ErrorNumber error);

}  // namespace publish
