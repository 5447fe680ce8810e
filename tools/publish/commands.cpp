// The subcommands of vexel-publish and their help texts.
#include <openssl/err.h>
#include <openssl/pkcs7.h>

#include <climits>
#include <cstdio>
#include <sstream>

#include "build_settings.h"
#include "support/message_catalogue.h"
#include "support/utf16.h"
#include "tools/publish/authority.h"
#include "tools/publish/certificates.h"
#include "tools/publish/command_line.h"
#include "tools/publish/failure.h"
#include "tools/publish/files.h"
#include "tools/publish/manifest_check.h"
#include "tools/publish/package_check.h"
#include "tools/publish/signing.h"
#include "transfer/builtin_ca_certificate.h"

namespace publish {
namespace {

constexpr mode_t kPublicFile = 0644;   // certificates, packages, manifests (less the umask)
constexpr mode_t kPrivateFile = 0600;  // private keys, exactly

constexpr char kDefaultAuthorityName[] = "Vexel Player Development Signing Authority";
constexpr char kDefaultSignerName[] = "Vexel Player Development Signer";
constexpr char kDefaultOrganization[] = "Orrin Vexel Player trials";

// --- Shared pieces ------------------------------------------------------------

PassphraseSource Passphrase(const Arguments& a, const std::string& stem) {
  return PassphraseSource{a.Value(stem + "-file"), a.Value(stem + "-env"), "--" + stem};
}

// The authority a package is checked against: the given certificate, which
// must be a certificate authority, or else the one built into this build.
struct Authority {
  std::string der;
  std::string description;
};

Authority AuthorityFor(const Arguments& a) {
  Authority authority;
  if (a.Has("authority")) {
    const std::string path = a.Value("authority");
    Certificate certificate = ReadCertificate(path, "the authority certificate");
    if (!IsAuthority(certificate.get())) {
      throw Failure("the authority certificate " + path +
                    " is not a certificate authority (its basic constraints do not say CA:TRUE)");
    }
    authority.der = CertificateDer(certificate.get());
    authority.description = SubjectLine(certificate.get()) + " (" + path + ")";
    return authority;
  }
  authority.der.assign(reinterpret_cast<const char*>(BuiltInCaCertificate), BuiltInCaCertificateLength);
  Certificate builtIn = DecodeCertificate(BuiltInCaCertificate, BuiltInCaCertificateLength);
  authority.description =
      (builtIn ? SubjectLine(builtIn.get()) : std::string("?")) + " (built into this build's updater)";
  return authority;
}

// The subject of the package's signer as OpenSSL reads the message, for the
// report only; empty when it cannot be read.
std::string SignerOf(const std::string& package) {
  if (package.empty() || package.size() > static_cast<std::size_t>(LONG_MAX)) return std::string();
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(package.data());
  PKCS7* p7 = d2i_PKCS7(nullptr, &cursor, static_cast<long>(package.size()));
  std::string subject;
  if (p7 != nullptr && PKCS7_type_is_signed(p7)) {
    STACK_OF(X509)* signers = PKCS7_get0_signers(p7, nullptr, 0);
    if (signers != nullptr && sk_X509_num(signers) > 0) subject = SubjectLine(sk_X509_value(signers, 0));
    sk_X509_free(signers);
  }
  PKCS7_free(p7);
  ERR_clear_error();
  return subject;
}

std::string Hex(platform::ErrorNumber error) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(error));
  return text;
}

void ReportRefusal(std::ostream& out, const PackageVerdict& verdict) {
  out << "  reason: " << RefusalReason(verdict.failure, verdict.error) << '\n'
      << "  failed step: " << FailureStepName(verdict.failure) << " (error " << Hex(verdict.error) << ")\n";
}

// --- new-authority and new-signer ---------------------------------------------

struct Issuer {
  Certificate certificate;
  PrivateKey key;
};

Issuer ReadIssuer(const Arguments& a, bool required) {
  Issuer issuer;
  if (!a.Has("issuer") && !a.Has("issuer-key")) {
    if (required) throw UsageFailure("--issuer and --issuer-key are required");
    return issuer;
  }
  const std::string certificatePath = a.Required("issuer");
  const std::string keyPath = a.Required("issuer-key");
  issuer.certificate = ReadCertificate(certificatePath, "the issuer's certificate");
  if (!IsAuthority(issuer.certificate.get())) {
    throw Failure("the issuer " + certificatePath +
                  " is not a certificate authority (its basic constraints do not say CA:TRUE)");
  }
  const PassphraseSource source = Passphrase(a, "issuer-passphrase");
  issuer.key = ReadPrivateKey(keyPath, "the issuer's key", ReadPassphrase(source), source);
  ExpectKeyOf(issuer.certificate.get(), issuer.key.get(), certificatePath, keyPath);
  return issuer;
}

int MakeCertificate(const Arguments& a, std::ostream& out, std::ostream& err, CertificateKind kind) {
  const bool authority = kind == CertificateKind::kAuthority;
  CertificateRequest request;
  request.kind = kind;
  request.commonName = a.Value("name", authority ? kDefaultAuthorityName : kDefaultSignerName);
  request.organization = a.Value("organization", kDefaultOrganization);
  request.days = static_cast<int>(a.Number("days", authority ? 3650 : 730, 1, 36500));
  request.bits = static_cast<int>(a.Number("bits", 2048, 2048, 4096));
  if (request.bits != 2048 && request.bits != 3072 && request.bits != 4096) {
    throw UsageFailure("--bits takes 2048, 3072 or 4096");
  }
  const std::string certificatePath = a.Required("cert");
  const std::string keyPath = a.Required("key");

  OutputFiles outputs(a.Has("force"));
  outputs.Expect(certificatePath, "the certificate");
  outputs.Expect(keyPath, "the key");
  if (certificatePath == keyPath) throw Failure("--cert and --key name the same file " + keyPath);
  const std::string passphrase = ReadPassphrase(Passphrase(a, "passphrase"));
  Issuer issuer = ReadIssuer(a, !authority);
  request.issuer = issuer.certificate.get();
  request.issuerKey = issuer.key.get();

  IssuedCertificate issued = IssueCertificate(request);
  if (request.issuer != nullptr &&
      ASN1_TIME_compare(X509_get0_notAfter(issued.certificate.get()), X509_get0_notAfter(request.issuer)) > 0) {
    err << "vexel-publish: warning: the new certificate outlives its issuer, which is valid until "
        << NotAfterLine(request.issuer) << std::endl;
  }
  std::string keyPem = PrivateKeyPem(issued.key.get(), passphrase);
  outputs.Stage(keyPath, "the key", keyPem, kPrivateFile, true);
  outputs.Stage(certificatePath, "the certificate", CertificateFileBytes(issued.certificate.get(), certificatePath),
                kPublicFile);
  OPENSSL_cleanse(keyPem.data(), keyPem.size());
  outputs.Commit();

  out << "made "
      << (authority ? (request.issuer != nullptr ? "an intermediate authority" : "an authority") : "a signer") << ": "
      << SubjectLine(issued.certificate.get()) << '\n'
      << "  certificate: " << certificatePath << " (valid until " << NotAfterLine(issued.certificate.get()) << ")\n"
      << "  private key: " << keyPath << (passphrase.empty() ? " (no passphrase)" : " (protected by the passphrase)")
      << '\n';
  if (request.issuer != nullptr) out << "  issued by: " << SubjectLine(request.issuer) << '\n';
  return kExitDone;
}

int NewAuthority(const Arguments& a, std::ostream& out, std::ostream& err) {
  return MakeCertificate(a, out, err, CertificateKind::kAuthority);
}

int NewSigner(const Arguments& a, std::ostream& out, std::ostream& err) {
  return MakeCertificate(a, out, err, CertificateKind::kSigner);
}

// --- sign -----------------------------------------------------------------------

int Sign(const Arguments& a, std::ostream& out, std::ostream& err) {
  const std::string installerPath = a.Positional().front();
  const std::string signerPath = a.Required("signer");
  const std::string keyPath = a.Required("key");
  const std::string packagePath = a.Required("out");
  OutputFiles outputs(a.Has("force"));
  outputs.Expect(packagePath, "the package");
  if (packagePath == installerPath) throw Failure("--out names the installer itself");

  const std::string installer = ReadWholeFile(installerPath, "the installer");
  if (installer.empty()) throw Failure("the installer " + installerPath + " is empty");
  Certificate signer = ReadCertificate(signerPath, "the signer's certificate");
  const PassphraseSource source = Passphrase(a, "passphrase");
  PrivateKey key = ReadPrivateKey(keyPath, "the signer's key", ReadPassphrase(source), source);
  ExpectKeyOf(signer.get(), key.get(), signerPath, keyPath);
  std::vector<Certificate> chain;
  for (const std::string& path : a.All("chain")) {
    for (Certificate& c : ReadCertificates(path, "the chain file")) chain.push_back(std::move(c));
  }
  std::vector<X509*> chainPointers;
  for (const Certificate& c : chain) {
    if (X509_cmp(c.get(), signer.get()) != 0) chainPointers.push_back(c.get());  // the signer is carried anyway
  }
  const Authority authority = AuthorityFor(a);

  const std::string package = SignPackage(installer, signer.get(), key.get(), chainPointers);

  // The updater's own check, before the package is written.
  const PackageVerdict verdict = CheckPackage(package, authority.der);
  if (verdict.accepted && verdict.content != installer) {
    throw Failure("the signed package does not carry the installer unchanged; nothing was written");
  }
  if (!verdict.accepted && a.Has("authority")) {
    throw Failure("the package would be refused against " + authority.description + ": " +
                  RefusalReason(verdict.failure, verdict.error) + "; nothing was written");
  }
  outputs.Stage(packagePath, "the package", package, kPublicFile);
  outputs.Commit();

  out << "signed: " << packagePath << " (" << package.size() << " bytes, carrying " << installer.size() << " bytes of "
      << installerPath << ")\n"
      << "  signed by: " << SubjectLine(signer.get()) << '\n'
      << "  certificates carried: " << 1 + chainPointers.size() << '\n';
  if (verdict.accepted) {
    out << "  the updater accepts it against " << authority.description << '\n';
  } else {
    err << "vexel-publish: warning: the updater of this build would refuse the package: "
        << RefusalReason(verdict.failure, verdict.error) << std::endl;
  }
  const unsigned long long limit = build_settings::kPackageSizeLimitMebibytes * 1024ull * 1024ull;
  if (package.size() > limit) {
    err << "vexel-publish: warning: the package is larger than the " << build_settings::kPackageSizeLimitMebibytes
        << " MiB this build's updater downloads" << std::endl;
  }
  return kExitDone;
}

// --- verify ---------------------------------------------------------------------

int Verify(const Arguments& a, std::ostream& out, std::ostream& /*err*/) {
  const std::string packagePath = a.Positional().front();
  OutputFiles outputs(a.Has("force"));
  const bool writeContent = a.Has("out");
  if (writeContent) outputs.Expect(a.Value("out"), "the installer output");
  const Authority authority = AuthorityFor(a);
  const std::string package = ReadWholeFile(packagePath, "the package");

  const PackageVerdict verdict = CheckPackage(package, authority.der);
  const std::string signer = SignerOf(package);
  out << (verdict.accepted ? "accepted: " : "refused: ") << packagePath << '\n';
  if (!signer.empty()) out << "  signed by: " << signer << '\n';
  out << "  authority: " << authority.description << '\n';
  if (!verdict.accepted) {
    ReportRefusal(out, verdict);
    return kExitRefused;
  }
  out << "  installer: " << verdict.content.size() << " bytes";
  if (writeContent) {
    outputs.Stage(a.Value("out"), "the installer output", verdict.content, 0755);
    outputs.Commit();
    out << ", written to " << a.Value("out");
  }
  out << '\n';
  return kExitDone;
}

// --- manifest -------------------------------------------------------------------

VersionNumbers VersionOption(const Arguments& a, const std::string& option) {
  VersionNumbers version{};
  std::string why;
  if (!ParseVersionText(a.Required(option), version, why)) throw Failure("--" + option + " " + why);
  return version;
}

int Manifest(const Arguments& a, std::ostream& out, std::ostream& err) {
  const VersionNumbers activeX = VersionOption(a, "activex");
  const VersionNumbers plugin = VersionOption(a, "plugin");
  const std::string frequencyText = a.Required("check-frequency");
  std::uint32_t frequency = 0;
  if (!ParseStrictNumber(frequencyText, frequency)) {
    throw Failure("--check-frequency \"" + frequencyText + "\" is not a number of days (0 to 4294967295)");
  }
  const std::string path = a.Required("out");
  OutputFiles outputs(a.Has("force"));
  if (path != "-") outputs.Expect(path, "the manifest");

  const std::string document = ManifestDocument(activeX, plugin, frequency);
  // The updater's own reading of what is about to be written.
  const ManifestReading reading = ReadManifestAsUpdater(document, false);
  if (!reading.accepted || reading.activeX != activeX || reading.plugin != plugin ||
      reading.checkFrequency != frequency) {
    throw Failure("the updater would not read the manifest back to the values given; nothing was written");
  }
  if (ScheduledCheckFrequency(frequency) != frequency) {
    err << "vexel-publish: warning: --check-frequency " << frequency
        << ": the updater keeps 1 to 3 days between checks and will wait " << ScheduledCheckFrequency(frequency)
        << std::endl;
  }
  if (path == "-") {
    out << document << std::flush;
    return kExitDone;
  }
  outputs.Stage(path, "the manifest", document, kPublicFile);
  outputs.Commit();
  out << "wrote " << path << ": ActiveX control " << VersionText(activeX) << ", plug-in " << VersionText(plugin)
      << ", check frequency " << frequency << (frequency == 1 ? " day" : " days") << '\n';
  return kExitDone;
}

// --- check-manifest -------------------------------------------------------------

std::string Meaning(std::int32_t code) {
  const MessageInfo* info = FindMessage(code);
  return info != nullptr ? info->meaning : "a code this program does not know";
}

int CheckManifest(const Arguments& a, std::ostream& out, std::ostream& /*err*/) {
  const std::string path = a.Positional().front();
  bool more = false;
  const std::string body = ReadFileStart(path, "the manifest", kManifestSizeBound, more);
  const ManifestReading reading = ReadManifestAsUpdater(body, more);
  const std::string name = path == "-" ? std::string("(standard input)") : path;
  out << (reading.accepted ? "accepted: " : "refused: ") << name << '\n';
  if (reading.tooLarge) {
    out << "  the manifest is larger than " << kManifestSizeBound
        << " bytes (1 MiB): the updater stops reading it and parses nothing\n";
  }
  if (reading.zeroByteAt != std::string::npos) {
    out << "  note: a zero byte at offset " << reading.zeroByteAt
        << " ends the text; the updater reads nothing after it in the chunk that carries it\n";
  }
  if (!reading.accepted) {
    for (const LoggedLine& line : reading.logged) {
      out << "  the updater logs " << WideToUtf8(line.message) << ": " << Meaning(line.code) << '\n';
    }
    return kExitRefused;
  }
  out << "  ActiveX control (flavour 1): " << VersionText(reading.activeX) << '\n'
      << "  plug-in (flavour 2): " << VersionText(reading.plugin) << '\n'
      << "  check frequency: " << reading.checkFrequency;
  const std::uint32_t scheduled = ScheduledCheckFrequency(reading.checkFrequency);
  if (scheduled != reading.checkFrequency) {
    out << " (the updater's schedule keeps 1 to 3 days: it waits " << scheduled << ")";
  } else {
    out << (reading.checkFrequency == 1 ? " day" : " days");
  }
  out << '\n';
  for (const std::string& note : reading.notes) out << "  note: " << note << '\n';
  return kExitDone;
}

// --- The table ------------------------------------------------------------------

const OptionSpec kForce{"force", nullptr, false, "replace output files that exist already"};

std::vector<OptionSpec> CertificateOptions(bool authority) {
  std::vector<OptionSpec> options = {
      {"cert", "FILE", false, "where the new certificate goes: DER when the name ends in .der or .cer, PEM otherwise"},
      {"key", "FILE", false, "where the new private key goes (PEM PKCS #8, readable by its owner only)"},
      {"name", "TEXT", false,
       authority ? "the common name (default: \"Vexel Player Development Signing Authority\")"
                 : "the common name (default: \"Vexel Player Development Signer\")"},
      {"organization", "TEXT", false, "the organization (default: \"Orrin Vexel Player trials\")"},
      {"days", "DAYS", false,
       authority ? "days the certificate is valid, from now (default: 3650)"
                 : "days the certificate is valid, from now (default: 730)"},
      {"bits", "BITS", false, "RSA key size: 2048 (default), 3072 or 4096"},
      {"passphrase-file", "FILE", false, "protect the new key with the passphrase on the first line of FILE (AES-256)"},
      {"passphrase-env", "NAME", false, "protect the new key with the passphrase in environment variable NAME"},
      {"issuer", "CERT", false,
       authority ? "make an intermediate authority issued by this authority (default: a self-signed one)"
                 : "the authority that issues the signer"},
      {"issuer-key", "FILE", false, "the issuer's private key (PEM)"},
      {"issuer-passphrase-file", "FILE", false, "the issuer key's passphrase, on the first line of FILE"},
      {"issuer-passphrase-env", "NAME", false, "the issuer key's passphrase, in environment variable NAME"},
      kForce,
  };
  return options;
}

const std::vector<CommandSpec> kCommands = {
    {"new-authority", "make a development signing authority (for trials)",
     "new-authority --cert FILE --key FILE [options]",
     "Makes a development signing authority for trials: a 2048-bit (or larger) RSA key and a self-signed "
     "certificate signed with SHA-256, with basic constraints critical CA:TRUE and key usage keyCertSign and "
     "cRLSign. With --issuer it makes an intermediate authority issued by that authority instead.\n\n"
     "Production authorities come from the release engineers, who keep their keys; a release build "
     "embeds the production authority's certificate (cmake -DVEXEL_CA_CERTIFICATE_DER=FILE). Build the updater "
     "with a development authority's DER certificate to try packages signed under it.\n\n"
     "The key is written readable by its owner only (mode 0600). Existing files are never replaced unless "
     "--force is given.",
     CertificateOptions(true), nullptr, 0, 0, &NewAuthority},
    {"new-signer", "make a signer certificate issued by an authority (for trials)",
     "new-signer --issuer CERT --issuer-key FILE --cert FILE --key FILE [options]",
     "Makes a signer for trials: an RSA key and an end-entity certificate (basic constraints critical CA:FALSE, "
     "key usage digitalSignature, extended key usage codeSigning) issued by the given authority and signed with "
     "SHA-256. The issuer must be a certificate authority: the build's development authority "
     "(build/<preset>/development-authority/authority.pem with authority.key), one made by new-authority, or an "
     "intermediate below one. Production signers come from the release engineers.\n\n"
     "The key is written readable by its owner only (mode 0600). Existing files are never replaced unless "
     "--force is given.",
     CertificateOptions(false), nullptr, 0, 0, &NewSigner},
    {"sign",
     "sign an installer into a package",
     "sign INSTALLER --signer CERT --key FILE --out PACKAGE [options]",
     "Signs the installer into a package the updater downloads: PKCS #7 signed data in DER that carries the "
     "installer itself, signed with SHA-256, with the signer's certificate and the certificates of --chain "
     "(the intermediates between the signer and the authority; the authority itself need not be carried).\n\n"
     "Before the package is written, the updater's own verification checks it: against --authority when it is "
     "given (a refusal then writes nothing and fails), else against the authority built into this build (a "
     "refusal is a warning: the package may be meant for another build). The package is written whole or not "
     "at all.",
     {
         {"signer", "CERT", false, "the signer's certificate (PEM or DER)"},
         {"key", "FILE", false, "the signer's private key (PEM)"},
         {"passphrase-file", "FILE", false, "the key's passphrase, on the first line of FILE"},
         {"passphrase-env", "NAME", false, "the key's passphrase, in environment variable NAME"},
         {"chain", "FILE", true, "further certificates to carry (PEM, one or more, or DER)"},
         {"out", "PACKAGE", false, "where the package goes"},
         {"authority", "CERT", false, "the authority the package must verify against (default: the built-in one)"},
         kForce,
     },
     "the installer to sign",
     1,
     1,
     &Sign},
    {"verify",
     "verify a package exactly as the updater does",
     "verify PACKAGE [--authority CERT] [--out FILE]",
     "Verifies the package with the updater's own signature verification: the message's signature over its "
     "content, then the chain the package carries from the signer upwards (each certificate against its "
     "issuer's signature and its validity period now, every issuer a certificate authority, at most 32 "
     "certificates), and the top of that chain against the authority. Prints the verdict and, for a refusal, "
     "the reason. Exit code 0: accepted; 1: refused.",
     {
         {"authority", "CERT", false,
          "verify against this authority certificate (PEM or DER; must be a certificate authority) instead of "
          "the one built into this build's updater"},
         {"out", "FILE", false, "write the installer the package carries, when it is accepted"},
         kForce,
     },
     "the package to verify",
     1,
     1,
     &Verify},
    {"manifest",
     "write a version manifest",
     "manifest --activex VERSION --plugin VERSION --check-frequency DAYS --out FILE",
     "Writes the version manifest the updater fetches: the current version of the ActiveX control and of the "
     "plug-in, each four numbers from 0 to 4294967295 separated by dots (major.minor.buildMajor.buildMinor, "
     "such as 11.2.202.235), and the days the updater waits between checks (1 to 3; other values are written "
     "with a warning, and the updater keeps 1 to 3). The updater's own manifest reading checks the document "
     "before it is written.",
     {
         {"activex", "VERSION", false, "the ActiveX control's version"},
         {"plugin", "VERSION", false, "the plug-in's version"},
         {"check-frequency", "DAYS", false, "days between the updater's checks (1 to 3)"},
         {"out", "FILE", false, "where the manifest goes; - for the standard output"},
         kForce,
     },
     nullptr,
     0,
     0,
     &Manifest},
    {"check-manifest",
     "read a manifest exactly as the updater does",
     "check-manifest FILE",
     "Reads the manifest (- for the standard input) with the updater's own manifest reading: refused past "
     "1 MiB, the text up to a zero byte, then the parse. Prints the values the updater would take, or the codes "
     "it would log (with their meanings from the message catalogue). Exit code 0: accepted; 1: refused.",
     {},
     "the manifest to check",
     1,
     1,
     &CheckManifest},
};

}  // namespace

const std::vector<CommandSpec>& Commands() { return kCommands; }

}  // namespace publish
