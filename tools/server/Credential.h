// Credential: an account's password as the database keeps it, so that nothing stored logs
// in as it stands. The tracker sends the MD5 digest of its password at login and the web
// sign-in computes the same digest from the typed password; the database keeps a salted
// scrypt hash of that digest (lower-case), written "scrypt$N$r$p$SALT$HASH" with the salt
// (16 bytes) and the hash (32 bytes) in lower-case hexadecimal. N = 2048, r = 8, p = 1:
// one check costs about 5 ms and 2 MiB. Parameters are read back from each credential, so
// stronger ones may follow without touching stored accounts.
// Pure functions, callable from any thread.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::refserver {

// A new credential for a password digest (32 hexadecimal characters, either case) with a
// fresh random salt. Empty when the system's random generator fails.
std::string MakeCredential(std::string_view digest);
// Whether the digest matches the credential, in time that does not depend on where they
// differ. False for anything that is not a credential of this form.
bool VerifyCredential(std::string_view credential, std::string_view digest);
// Whether the text is a credential of this form (not an old stored digest).
bool IsCredential(std::string_view stored);
// Bytes as lower-case hexadecimal, two characters a byte.
std::string LowerHex(const unsigned char* data, size_t size);

}  // namespace kestrix::refserver
