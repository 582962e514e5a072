#include "support/TestCertificates.h"

#include <cstdlib>

#include "support/TestSupport.h"

namespace kestrix::test {
namespace {

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

const char* const kNewKey = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2";

bool Authority(const std::string& dir, const std::string& name) {
    return Run(std::string(kNewKey) + " -x509 -subj '/CN=Kestrix test " + name + "' -keyout " + dir + "/" + name +
               ".key -out " + dir + "/" + name + ".pem");
}

bool Signed(const std::string& dir, const std::string& name, const std::string& ca, const std::string& altNames) {
    WriteFile(dir + "/" + name + ".ext", "subjectAltName=" + altNames + "\n");
    const std::string base = dir + "/" + name;
    return Run(std::string(kNewKey) + " -subj /CN=" + name + " -keyout " + base + ".key -out " + base + ".csr") &&
           Run("openssl x509 -req -days 2 -in " + base + ".csr -CA " + dir + "/" + ca + ".pem -CAkey " + dir + "/" +
               ca + ".key -CAcreateserial -extfile " + base + ".ext -out " + base + ".pem");
}

}  // namespace

TestCertificates MakeTestCertificates(const std::string& dir) {
    TestCertificates c;
    c.made = Authority(dir, "ca") && Authority(dir, "otherca") &&
             Signed(dir, "server", "ca", "DNS:localhost,IP:127.0.0.1,IP:::1") &&
             Signed(dir, "stranger", "otherca", "DNS:localhost,IP:127.0.0.1,IP:::1") &&
             Signed(dir, "elsewhere", "ca", "DNS:elsewhere.example");
    c.ca = dir + "/ca.pem";
    c.cert = dir + "/server.pem";
    c.key = dir + "/server.key";
    c.strangerCert = dir + "/stranger.pem";
    c.strangerKey = dir + "/stranger.key";
    c.elsewhereCert = dir + "/elsewhere.pem";
    c.elsewhereKey = dir + "/elsewhere.key";
    return c;
}

}  // namespace kestrix::test
