// A CA of the test's own and a server certificate it signed for 127.0.0.1,
// made with openssl in a folder of the test's, and a second CA that signed
// nothing the server has: what a lab makes for a board server on TLS.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace Zelvar_Core::testing_support {

struct TestCertificates {
  explicit TestCertificates(const std::filesystem::path& folder_) : folder(folder_) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string f = "'" + folder.string() + "'";
    std::ofstream(folder / "san.ext") << "subjectAltName=IP:127.0.0.1\n";
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string commands[] = {
        "openssl req -x509" + key + " -keyout " + f + "/ca.key -out " + f +
            "/ca.pem -days 2 -subj '/CN=Zelvar test CA'",
        "openssl req -x509" + key + " -keyout " + f + "/other-ca.key -out " + f +
            "/other-ca.pem -days 2 -subj '/CN=Another CA'",
        "openssl req" + key + " -keyout " + f + "/server.key -out " + f +
            "/server.csr -subj '/CN=127.0.0.1'",
        "openssl x509 -req -in " + f + "/server.csr -CA " + f + "/ca.pem -CAkey " + f +
            "/ca.key -CAcreateserial -out " + f + "/server.pem -days 2 -extfile " + f + "/san.ext"};
    for (const std::string& command : commands)
      if (std::system((command + " > " + f + "/openssl.out 2>&1").c_str()) != 0)
        throw std::runtime_error("openssl failed: " + command);
    ::chmod((folder / "server.key").c_str(), 0600);
  }
  std::string ca() const { return read("ca.pem"); }
  std::string other_ca() const { return read("other-ca.pem"); }
  std::string certificate() const { return read("server.pem"); }
  std::string key() const { return read("server.key"); }
  std::string path(const char* name) const { return (folder / name).string(); }

  std::filesystem::path folder;

 private:
  std::string read(const char* name) const {
    std::ifstream in(folder / name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

}  // namespace Zelvar_Core::testing_support
