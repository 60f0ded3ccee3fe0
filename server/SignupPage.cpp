#include "server/SignupPage.h"

#include <httplib.h>

#include <mutex>

#include "server/HttpFront.h"
#include "server/Passwords.h"
#include "server/Service.h"
#include "server/Store.h"

namespace miravo::server {

namespace {

constexpr std::size_t kMaxPasswordCharacters = 259;

std::size_t characters(const std::string& utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8)
        n += (c & 0xC0) != 0x80;
    return n;
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

SignupOutcome SignUp(Store& store, const std::string& login, const std::string& password,
                     const std::string& confirmation, double credit) {
    if (!plausibleEmail(login))
        return {false, "Please give a valid e-mail address as your login."};
    if (password.empty())
        return {false, "Please choose a password."};
    if (characters(password) > kMaxPasswordCharacters)
        return {false, "The password may be at most 259 characters long."};
    if (password != confirmation)
        return {false, "The two passwords differ."};
    switch (store.addAccount(login, hashPassword(password), credit)) {
        case StoreResult::Ok:
            return {true, "Your account " + login +
                              " is ready. Enter it with its password in Miravo's Options."};
        case StoreResult::Exists:
            return {false, "There is already an account " + login + "."};
        default:
            return {false, "The account could not be created. Please try again later."};
    }
}

std::string SignupPage(const std::string& message) {
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Miravo sign-up</title></head>"
        "<body><h1>Create your Miravo account</h1>\n";
    if (!message.empty())
        page += "<p id=\"message\">" + escapeHtml(message) + "</p>\n";
    page +=
        "<form method=\"post\" action=\"/signup\">\n"
        "<p><label>E-mail (login) <input name=\"login\" type=\"email\" required></label></p>\n"
        "<p><label>Password <input name=\"password\" type=\"password\" maxlength=\"259\" "
        "required></label></p>\n"
        "<p><label>Confirm password <input name=\"confirmation\" type=\"password\" "
        "maxlength=\"259\" required></label></p>\n"
        "<p><button type=\"submit\">Create account</button></p>\n</form></body></html>\n";
    return page;
}

void AddSignupPage(HttpFront& front, const Options& options) {
    auto page = [](int status, const std::string& message) {
        PageAnswer answer;
        answer.status = status;
        answer.body = SignupPage(message);
        return answer;
    };
    front.addPage("GET", "/signup",
                  [page](const RequestHead&, std::string_view) { return page(200, {}); });
    front.addPage("POST", "/signup", [&options, page](const RequestHead&, std::string_view body) {
        // The form arrives URL-encoded.
        httplib::Params fields;
        httplib::detail::parse_query_text(std::string(body), fields);
        auto field = [&](const char* name) {
            const auto found = fields.find(name);
            return found == fields.end() ? std::string() : found->second;
        };
        // One sign-up at a time: the check for an existing login and the
        // insertion belong together.
        static std::mutex mutex;
        std::lock_guard<std::mutex> lock(mutex);
        Store store;
        std::string error;
        SignupOutcome outcome;
        if (!store.open(options.dataDir / "miravo.db", error))
            outcome.message = "The account could not be created. Please try again later.";
        else
            outcome = SignUp(store, field("login"), field("password"), field("confirmation"),
                             options.credit);
        return page(outcome.created ? 200 : 400, outcome.message);
    });
}

}  // namespace miravo::server
