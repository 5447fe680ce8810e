// The POSIX HTTP client on libcurl, for those who need one of their own.
#pragma once

#include <memory>
#include <string>

#include "platform/http_client.h"

namespace platform::posix {

// A client whose HTTPS requests trust the certificates in the PEM file
// `caFile` and no others, where the default adapter trusts the system's
// roots. Certificates are validated all the same, host name included. Tests
// use it against servers with a test authority; the product never does.
std::unique_ptr<HttpClient> MakeCurlHttpClient(const std::string& caFile);

}  // namespace platform::posix
