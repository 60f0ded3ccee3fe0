// The service's sign-up page, /signup on the HTTPS port: GET gives a form,
// POST creates the account it describes with the rules and the storage of
// "miravo-server user add" (a salted password hash, the starting credit),
// then shows what came of it.
#pragma once

#include <string>

#include "server/Options.h"

namespace miravo::server {

class Store;

struct SignupOutcome {
    bool created = false;
    std::string message;  // plain text, for the page
};

// Creates the account: the login is an e-mail address, the password is
// given twice, not empty and at most 259 characters long.
SignupOutcome SignUp(Store& store, const std::string& login, const std::string& password,
                     const std::string& confirmation, double credit);

// The page: the form, with `message` (plain text) above it when not empty.
std::string SignupPage(const std::string& message);

class HttpFront;

// Serves GET and POST /signup on the API's port, storing into the options'
// data folder.
void AddSignupPage(HttpFront& front, const Options& options);

}  // namespace miravo::server
