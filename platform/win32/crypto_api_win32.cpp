// CryptoAPI, from crypt32.dll loaded at run time. Nothing here calls a
// crypt32 function by name: every call goes through the entry point the core
// looked up with GetProcAddress, so the executable does not import crypt32.dll
// and takes it from no other folder than the one the core loaded it from.
#include <windows.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <climits>

#include "platform/crypto_api.h"
#include "platform/seam.h"

namespace platform {
namespace {

using VerifyMessageSignatureFn = BOOL(WINAPI*)(PCRYPT_VERIFY_MESSAGE_PARA, DWORD, const BYTE*, DWORD, BYTE*,
                                               DWORD*, PCCERT_CONTEXT*);
using GetMessageCertificatesFn = HCERTSTORE(WINAPI*)(DWORD, HCRYPTPROV_LEGACY, DWORD, const BYTE*, DWORD);
using CreateCertificateContextFn = PCCERT_CONTEXT(WINAPI*)(DWORD, const BYTE*, DWORD);
using FindCertificateInStoreFn = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, DWORD, DWORD, DWORD, const void*,
                                                         PCCERT_CONTEXT);
using VerifySubjectCertificateContextFn = BOOL(WINAPI*)(PCCERT_CONTEXT, PCCERT_CONTEXT, DWORD*);
using FreeCertificateContextFn = BOOL(WINAPI*)(PCCERT_CONTEXT);
using CloseStoreFn = BOOL(WINAPI*)(HCERTSTORE, DWORD);
using FindExtensionFn = PCERT_EXTENSION(WINAPI*)(LPCSTR, DWORD, CERT_EXTENSION*);
using DecodeObjectFn = BOOL(WINAPI*)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, void*, DWORD*);

template <class Fn>
Fn Call(EntryPoint entry) {
  return reinterpret_cast<Fn>(entry);
}

PCCERT_CONTEXT Native(CertificateHandle handle) { return reinterpret_cast<PCCERT_CONTEXT>(handle); }
CertificateHandle Portable(PCCERT_CONTEXT context) { return reinterpret_cast<CertificateHandle>(context); }
HCERTSTORE Native(CertificateSetHandle handle) { return reinterpret_cast<HCERTSTORE>(handle); }

Step LastStep() { return Step::Failure(::GetLastError()); }

template <class T>
StepOr<T> LastStepOr() {
  return StepOr<T>::Failure(::GetLastError());
}

// A failure with this error number, set as the thread's last error too.
Step FailWith(DWORD error) {
  ::SetLastError(error);
  return Step::Failure(error);
}

template <class T>
StepOr<T> FailWithOr(DWORD error) {
  ::SetLastError(error);
  return StepOr<T>::Failure(error);
}

bool FitsDword(std::size_t n) { return n <= static_cast<std::size_t>(MAXDWORD); }

class Win32CryptoApi final : public CryptoApi {
 public:
  StepOr<std::wstring> SystemFolder() override {
    wchar_t path[MAX_PATH] = {};
    HRESULT hr = ::SHGetFolderPathW(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, path);
    if (FAILED(hr)) return FailWithOr<std::wstring>(static_cast<DWORD>(hr));
    return StepOr<std::wstring>::Success(path);
  }

  StepOr<LibraryHandle> LoadLibraryFromPath(const std::wstring& path) override {
    HMODULE module = ::LoadLibraryW(path.c_str());
    if (module == nullptr) return LastStepOr<LibraryHandle>();
    return StepOr<LibraryHandle>::Success(reinterpret_cast<LibraryHandle>(module));
  }

  Step UnloadLibrary(LibraryHandle library) override {
    if (!::FreeLibrary(reinterpret_cast<HMODULE>(library))) return LastStep();
    return Step::Success();
  }

  StepOr<EntryPoint> GetEntryPoint(LibraryHandle library, const char* name) override {
    FARPROC address = ::GetProcAddress(reinterpret_cast<HMODULE>(library), name);
    if (address == nullptr) return LastStepOr<EntryPoint>();
    return StepOr<EntryPoint>::Success(reinterpret_cast<EntryPoint>(address));
  }

  Step VerifyMessageSignature(EntryPoint entry, std::uint32_t encoding, std::uint32_t signerIndex,
                              const std::uint8_t* message, std::size_t length, std::uint8_t* content,
                              std::size_t* contentLength, CertificateHandle* signer) override {
    if (signer != nullptr) *signer = nullptr;
    if (contentLength == nullptr || !FitsDword(length) || !FitsDword(*contentLength)) {
      return FailWith(static_cast<DWORD>(E_INVALIDARG));
    }
    // No provider and no callback for the signer's certificate: it is taken
    // from the certificates the message carries.
    CRYPT_VERIFY_MESSAGE_PARA parameters = {};
    parameters.cbSize = sizeof parameters;
    parameters.dwMsgAndCertEncodingType = encoding;
    parameters.hCryptProv = 0;
    parameters.pfnGetSignerCertificate = nullptr;
    parameters.pvGetArg = nullptr;
    DWORD size = content != nullptr ? static_cast<DWORD>(*contentLength) : 0;
    PCCERT_CONTEXT signerContext = nullptr;
    BOOL ok = Call<VerifyMessageSignatureFn>(entry)(&parameters, signerIndex, message, static_cast<DWORD>(length),
                                                    content, &size, signer != nullptr ? &signerContext : nullptr);
    *contentLength = size;
    if (!ok) return LastStep();
    if (signer != nullptr) *signer = Portable(signerContext);
    return Step::Success();
  }

  StepOr<CertificateSetHandle> GetMessageCertificates(EntryPoint entry, std::uint32_t encoding,
                                                       const std::uint8_t* message, std::size_t length) override {
    if (!FitsDword(length)) return FailWithOr<CertificateSetHandle>(static_cast<DWORD>(E_INVALIDARG));
    HCERTSTORE store =
        Call<GetMessageCertificatesFn>(entry)(encoding, 0, 0, message, static_cast<DWORD>(length));
    if (store == nullptr) return LastStepOr<CertificateSetHandle>();
    return StepOr<CertificateSetHandle>::Success(reinterpret_cast<CertificateSetHandle>(store));
  }

  StepOr<CertificateHandle> CreateCertificate(EntryPoint entry, std::uint32_t encoding, const std::uint8_t* der,
                                              std::size_t length) override {
    if (!FitsDword(length)) return FailWithOr<CertificateHandle>(static_cast<DWORD>(E_INVALIDARG));
    PCCERT_CONTEXT context = Call<CreateCertificateContextFn>(entry)(encoding, der, static_cast<DWORD>(length));
    if (context == nullptr) return LastStepOr<CertificateHandle>();
    return StepOr<CertificateHandle>::Success(Portable(context));
  }

  StepOr<CertificateHandle> FindIssuerOf(EntryPoint entry, CertificateSetHandle set, std::uint32_t encoding,
                                         CertificateHandle subject) override {
    PCCERT_CONTEXT found =
        Call<FindCertificateInStoreFn>(entry)(Native(set), encoding, 0, CERT_FIND_ISSUER_OF, Native(subject), nullptr);
    if (found == nullptr) return LastStepOr<CertificateHandle>();
    return StepOr<CertificateHandle>::Success(Portable(found));
  }

  Step VerifySubjectCertificate(EntryPoint entry, CertificateHandle subject, CertificateHandle issuer,
                                std::uint32_t* flags) override {
    if (flags == nullptr) return FailWith(static_cast<DWORD>(E_INVALIDARG));
    DWORD checks = *flags;
    BOOL ok = Call<VerifySubjectCertificateContextFn>(entry)(Native(subject), Native(issuer), &checks);
    *flags = checks;
    if (!ok) return LastStep();
    return Step::Success();
  }

  Step FreeCertificate(EntryPoint entry, CertificateHandle certificate) override {
    if (certificate == nullptr) return Step::Success();
    if (!Call<FreeCertificateContextFn>(entry)(Native(certificate))) return LastStep();
    return Step::Success();
  }

  Step CloseCertificateSet(EntryPoint entry, CertificateSetHandle set) override {
    if (set == nullptr) return Step::Success();
    if (!Call<CloseStoreFn>(entry)(Native(set), 0)) return LastStep();
    return Step::Success();
  }

  StepOr<CertificateExtension> FindExtension(EntryPoint entry, const char* oid,
                                             CertificateHandle certificate) override {
    PCCERT_CONTEXT context = Native(certificate);
    if (oid == nullptr || context == nullptr || context->pCertInfo == nullptr) {
      return FailWithOr<CertificateExtension>(static_cast<DWORD>(E_INVALIDARG));
    }
    PCERT_EXTENSION extension = Call<FindExtensionFn>(entry)(oid, context->pCertInfo->cExtension,
                                                             context->pCertInfo->rgExtension);
    if (extension == nullptr) return FailWithOr<CertificateExtension>(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    CertificateExtension result;
    result.critical = extension->fCritical != FALSE;
    result.value.assign(extension->Value.pbData, extension->Value.pbData + extension->Value.cbData);
    return StepOr<CertificateExtension>::Success(std::move(result));
  }

  StepOr<BasicConstraints> DecodeBasicConstraints(EntryPoint entry, std::uint32_t encoding,
                                                  const std::vector<std::uint8_t>& value) override {
    if (!FitsDword(value.size())) return FailWithOr<BasicConstraints>(static_cast<DWORD>(E_INVALIDARG));
    CERT_BASIC_CONSTRAINTS2_INFO info = {};
    DWORD size = sizeof info;
    if (!Call<DecodeObjectFn>(entry)(encoding, X509_BASIC_CONSTRAINTS2, value.data(),
                                     static_cast<DWORD>(value.size()), 0, &info, &size)) {
      return LastStepOr<BasicConstraints>();
    }
    BasicConstraints result;
    result.certificateAuthority = info.fCA != FALSE;
    result.hasPathLengthLimit = info.fPathLenConstraint != FALSE;
    result.pathLengthLimit = info.dwPathLenConstraint;
    return StepOr<BasicConstraints>::Success(result);
  }
};

}  // namespace

template <>
CryptoApi& PlatformDefault<CryptoApi>() {
  static Win32CryptoApi api;
  return api;
}

}  // namespace platform
