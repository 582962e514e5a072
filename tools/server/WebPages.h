// WebPages: the HTML of the reference server's web pages and the checks of its
// registration form, kept apart from the HTTP server (WebFrontEnd) so they need none of
// it. Every function is pure and may be called from any thread.
//
// Every text that comes from outside (user names, a login typed into the form, the
// address a browser asked for) goes through EscapeHtml, in element text and in quoted
// attribute values alike. The pages are UTF-8, need no script and load nothing else: the
// style is inline.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Store.h"

namespace kestrix::refserver {

// The tracker reads its login and password from edits of 127 characters.
constexpr size_t kMaxLoginChars = 127;
constexpr size_t kMaxPasswordChars = 127;

// &, <, >, " and ' as entities.
std::string EscapeHtml(const std::string& text);

// Why the registration form's fields cannot make an account (a sentence for the person
// who typed them), or empty when they can. A login must be UTF-8 text of 1 to 127
// characters without control characters, / or \ (the tracker names its log file after
// it) and without a space at either end; the password UTF-8 of 1 to 127 characters
// without control characters, typed the same twice. Whether the name is free is for the
// store to say. kestrix-server user add applies the same rule (the password given once).
std::string CheckRegistration(const std::string& login, const std::string& password, const std::string& again);

// "/": what the server is, where trackers reach it ("ADDR:PORT"), and its accounts.
std::string HomePage(const std::string& trackingAddress, const std::vector<UserSummary>& users);
// "/mobile/register": the form, with the per-process token in a hidden field, the login
// typed before and the reason it was refused (both empty on first showing).
std::string RegisterPage(const std::string& token, const std::string& login, const std::string& error);
// The answer to an accepted form: the new user id and how to set up the tracker.
std::string RegisteredPage(const std::string& trackingAddress, const std::string& login, uint32_t userId);
// A page that only says something went wrong (refused request, unknown page).
std::string MessagePage(const std::string& title, const std::string& message);

}  // namespace kestrix::refserver
