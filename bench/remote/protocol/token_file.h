// The files of the link's secrets: the token a board server asks of its
// clients, and the TLS key and certificates.
#pragma once

#include <string>

namespace Zelvar_Core::bench::remote {

// The token in `path`: its first line without blanks around it. The file is
// opened once and everything is checked on what was opened: only a regular
// file of at most 4 KiB that neither its group nor others may read (as ssh
// asks of a key); anything else, or an empty token, is refused with the
// reason in one sentence.
std::string read_token_file(const std::string& path);

// What a TLS file holds: the server's key and certificate, or the CA
// certificate a client checks the server's with.
enum class TlsFile { Key, Certificate, Authority };
// The PEM text of the TLS file at `path`, read as the token file is (the key,
// like the token, only when its group and others cannot read it), of at most
// 1 MiB; refused in one sentence otherwise.
std::string read_tls_file(const std::string& path, TlsFile kind);

// Whether `given` equals `expected`, in a time that does not tell how much
// of it matched (only their lengths may show).
bool same_secret(const std::string& given, const std::string& expected);

}  // namespace Zelvar_Core::bench::remote
