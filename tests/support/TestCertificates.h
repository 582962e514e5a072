// Certificates made for a test with the openssl command, in the test's folder: a
// certificate authority whose server certificate names localhost, 127.0.0.1 and ::1; a
// server certificate from another authority; one from the first authority for another
// name. Elliptic-curve keys, valid for two days.
#pragma once
#include <string>

namespace kestrix::test {

struct TestCertificates {
    std::string ca;            // the authority to trust
    std::string cert, key;     // localhost, 127.0.0.1, ::1, from ca
    std::string strangerCert, strangerKey;  // localhost, from another authority
    std::string elsewhereCert, elsewhereKey;  // elsewhere.example, from ca
    bool made = false;         // false: the openssl command failed (the test should fail)
};

TestCertificates MakeTestCertificates(const std::string& dir);

}  // namespace kestrix::test
