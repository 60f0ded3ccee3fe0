#include "server/Service.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <system_error>

#include "app/Text.h"
#include "server/CoverPage.h"
#include "server/Delivery.h"
#include "server/FaxTiffIo.h"

namespace miravo::server {

namespace {

// The fax actions send credentials in Windows-1252, destination numbers and
// names as one byte per character; the text exchanges send UTF-8.
std::string fromWindows1252(std::string_view bytes) {
    return toUtf8(fromCp1252(bytes));
}

std::string fromLatin1(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (unsigned char c : bytes)
        text.push_back(c);
    return toUtf8(text);
}

std::optional<std::int64_t> parseId(std::string_view text) {
    std::int64_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::size_t characters(std::string_view utf8) {
    return fromUtf8(utf8).size();
}

bool isOnOff(std::string_view v) {
    return v == "ON" || v == "OFF";
}

std::string randomToken() {
    std::random_device rd;
    return std::to_string(rd()) + std::to_string(rd());
}

std::int64_t wallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out.good();
}

}  // namespace

std::string_view sectionOf(std::string_view action) {
    if (action == "authentication")
        return "AUTHENTICATION";
    if (action == "convert_and_transfer")
        return "TRANSFER";
    if (action == "get_fax_status")
        return "GET_FAX_STATUS";
    if (action == "convert")
        return "CONVERT";
    if (action == "get_user_preferences")
        return "GET_USER_PREFERENCES";
    if (action == "update_user_preferences")
        return "UPDATE_USER_PREFERENCES";
    if (action == "get_address_book" || action == "update_address_book")
        return "GET_ADDRESS_BOOK";
    return "";
}

std::vector<std::pair<std::string, std::string>> formDestinations(const FormData& form) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const FormPart& part : form.parts) {
        if (part.isFile() || part.name.rfind("numbers[", 0) != 0 || part.name.back() != ']')
            continue;
        const std::string index = part.name.substr(8, part.name.size() - 9);
        out.emplace_back(part.value, form.value("names[" + index + "]"));
    }
    return out;
}

bool plausibleEmail(std::string_view email) {
    if (email.empty() || email.size() > 254)
        return false;
    const std::size_t at = email.find('@');
    if (at == 0 || at == std::string_view::npos ||
        email.find('@', at + 1) != std::string_view::npos)
        return false;
    const std::string_view domain = email.substr(at + 1);
    const std::size_t dot = domain.find('.');
    if (dot == 0 || dot == std::string_view::npos || domain.back() == '.')
        return false;
    for (unsigned char c : email) {
        if (c <= ' ' || c == 0x7f || c == '"' || c == '<' || c == '>' || c == ',' || c == ';')
            return false;
    }
    return true;
}

Service::Service(Store& store, ServiceConfig config)
    : store_(store),
      config_(std::move(config)),
      throttle_(config_.throttle),
      dummyHash_(hashPassword(randomToken())) {}

Answer Service::formError(FormError error) {
    const int code = (error == FormError::TooManyParts || error == FormError::FieldTooLarge)
                         ? err::kRequestTooLarge
                         : err::kUnreadableRequest;
    return errorAnswer(code);
}

Answer Service::authRefusal(std::string_view action, int code, std::string_view login) {
    AnswerXml xml;
    xml.setError(code);
    if (action == "authentication") {
        xml.setResult("AUTHENTICATION", false);
        xml.setResult("VALIDATION", false);
    } else if (action == "convert_and_transfer") {
        xml.setResult("TRANSFER", false);
        xml.setResult("AUTHENTICATION", false);
    } else if (action == "update_address_book") {
        xml.setResult("UPDATE_ADDRESS_BOOK", false);
        xml.setResult("GET_ADDRESS_BOOK", false);
    } else {
        xml.setResult(sectionOf(action), false);
    }
    Answer a = xml.finish(action);
    a.user = cleanText(login);
    return a;
}

std::optional<Answer> Service::screen(const FormData& lead, std::int64_t nowMs,
                                      std::string_view peer) {
    const std::string action = lead.value("action");
    if (sectionOf(action).empty())
        return handle(lead, nowMs, peer);  // missing or unknown action: no account is looked at
    // The fax actions carry their credentials in Windows-1252.
    const bool fax = action == "authentication" || action == "convert_and_transfer" ||
                     action == "get_fax_status";
    const std::string login =
        fax ? fromWindows1252(lead.value("username")) : lead.value("username");
    const std::string password =
        fax ? fromWindows1252(lead.value("password")) : lead.value("password");
    const Login auth = authenticate(login, password, peer);
    if (!auth.error)
        return std::nullopt;
    Answer a = authRefusal(action, auth.error, login);
    a.action = cleanText(action);
    return a;
}

Service::Login Service::authenticate(const std::string& login, const std::string& password,
                                     std::string_view peer) {
    Login result;
    if (login.empty()) {
        result.error = err::kUserNameMissing;
        return result;
    }
    if (password.empty()) {
        result.error = err::kPasswordMissing;
        return result;
    }
    // During a hold every attempt gets the same answer, whatever its
    // password: were a remembered password let through, a guesser could
    // try thousands a second and tell the right one by its answer. The
    // memory of verified passwords only spares the slow hash.
    Admission admission;
    if (!throttle_.admit(login, peer, wallClockMs(), &admission)) {
        result.error = err::kUnavailable;
        return result;
    }
    auto account = store_.findAccount(login);
    if (!account) {
        verifyPassword(password, dummyHash_);
        result.error = err::kAuthenticationFailed;
        return result;
    }
    if (!verified_.check(account->login, password, account->passwordHash)) {
        result.error = err::kAuthenticationFailed;
        return result;
    }
    throttle_.succeeded(login, peer, admission);
    if (account->disabled) {
        result.error = err::kAccountDisabled;
        return result;
    }
    result.account = std::move(account);
    return result;
}

Answer Service::handle(const FormData& form, std::int64_t nowMs, std::string_view peer) {
    const std::string action = form.value("action");
    Answer answer;
    if (action.empty())
        answer = errorAnswer(err::kFieldMissing);
    else if (action == "authentication")
        answer = authentication(form, peer);
    else if (action == "convert_and_transfer")
        answer = transfer(form, nowMs, peer);
    else if (action == "get_fax_status")
        answer = faxStatus(form, nowMs, peer);
    else if (action == "convert")
        answer = convert(form, peer);
    else if (action == "get_user_preferences")
        answer = getPreferences(form, peer);
    else if (action == "update_user_preferences")
        answer = updatePreferences(form, peer);
    else if (action == "get_address_book")
        answer = getAddressBook(form, peer);
    else if (action == "update_address_book")
        answer = updateAddressBook(form, peer);
    else
        answer = errorAnswer(err::kUnknownAction);
    answer.action = cleanText(action.substr(0, 64));
    return answer;
}

// --- fax actions (Windows-1252 credentials) --------------------------------

Answer Service::authentication(const FormData& form, std::string_view peer) {
    const std::string login = fromWindows1252(form.value("username"));
    Login auth = authenticate(login, fromWindows1252(form.value("password")), peer);
    if (auth.error)
        return authRefusal("authentication", auth.error, login);
    AnswerXml xml;
    const auto destinations = formDestinations(form);
    std::size_t invalid = 0;
    for (const auto& d : destinations) {
        if (!normalizeNumber(d.first))
            ++invalid;
    }
    const bool valid =
        !destinations.empty() && invalid == 0 && destinations.size() <= config_.maxDestinations;
    xml.setResult("AUTHENTICATION", true);
    AnswerXml::addText(xml.section("AUTHENTICATION"), "CREDIT", money(auth.account->credit));
    xml.setResult("VALIDATION", valid);
    AnswerXml::addText(xml.section("VALIDATION"), "INVALID_NUMBERS", std::to_string(invalid));
    Answer a = xml.finish("authentication");
    a.user = auth.account->login;
    return a;
}

Answer Service::transfer(const FormData& form, std::int64_t nowMs, std::string_view peer) {
    const std::string login = fromWindows1252(form.value("username"));
    auto fail = [&](int code) {
        AnswerXml xml;
        xml.setError(code);
        xml.setResult("TRANSFER", false);
        Answer a = xml.finish("convert_and_transfer");
        a.user = cleanText(login);
        return a;
    };
    Login auth = authenticate(login, fromWindows1252(form.value("password")), peer);
    if (auth.error)
        return authRefusal("convert_and_transfer", auth.error, login);
    const Account& account = *auth.account;

    const FormPart* document = form.find("document");
    if (!document || document->bytes().empty())
        return fail(err::kNoDocument);
    const auto tiffPages = countTiffPages(document->bytes(), config_.maxPages);
    if (!tiffPages)
        return fail(err::kDocumentUnreadable);

    const FormPart* coverPart = form.find("coverpage");
    if (coverPart && coverPart->value.size() > config_.maxCoverTextBytes)
        return fail(err::kCoverTextTooLong);
    const int pages = *tiffPages + (coverPart ? 1 : 0);
    if (pages > config_.maxPages)
        return fail(err::kTooManyPages);

    std::string attach = form.value("TXAttachType");
    if (attach.empty())
        attach = "NOT_AT_ALL";
    if (attach != "YES" && attach != "NO" && attach != "NOT_AT_ALL")
        return fail(err::kInvalidValue);

    // Destinations as sent, each number once.
    Fax fax;
    fax.accountId = account.id;
    std::set<std::string> seen;
    std::size_t valid = 0;
    for (const auto& [rawNumber, rawName] : formDestinations(form)) {
        const std::string number = cleanText(fromLatin1(rawNumber));
        if (number.empty() || !seen.insert(number).second)
            continue;
        if (fax.destinations.size() >= config_.maxDestinations)
            return fail(err::kTooManyNumbers);
        Destination d;
        d.number = number;
        d.name = cleanText(fromLatin1(rawName));
        if (auto normalized = normalizeNumber(number)) {
            d.finalStatus = finalStatusFor(*normalized);
            d.cost = deliveryCost(pages, config_.rate, d.finalStatus);
            ++valid;
        } else {
            d.finalStatus = std::string(kInvalidNumberStatus);
        }
        fax.destinations.push_back(std::move(d));
    }
    if (valid == 0)
        return fail(err::kNoValidNumber);
    fax.pages = pages;
    // Delivery starts once the fax is accepted, not when its upload began.
    fax.createdMs = std::max(nowMs, wallClockMs());
    fax.readyMs = fax.createdMs + config_.deliveryMs;
    fax.prebilling = static_cast<double>(valid) * expectedCost(pages, config_.rate);

    std::string cover;
    if (coverPart) {
        CoverRequest request;
        for (const Destination& d : fax.destinations)
            request.destinations.emplace_back(d.number, d.name);
        request.pageCount = pages;
        request.text = cleanText(coverPart->value);
        request.sender = account.login;
        cover = renderCoverPage(request);
        if (cover.empty())
            return fail(err::kCoverPageFailed);
    }

    // The files go to a folder of their own first and get the fax id as
    // their name once the fax is recorded.
    std::error_code ec;
    const std::filesystem::path faxes = config_.dataDir / "faxes";
    const std::filesystem::path incoming = faxes / ("incoming-" + randomToken());
    std::filesystem::create_directories(incoming, ec);
    if (ec || !writeFile(incoming / "document.tif", document->bytes()) ||
        (!cover.empty() && !writeFile(incoming / "cover.tif", cover))) {
        std::filesystem::remove_all(incoming, ec);
        return fail(err::kStorageFailed);
    }
    const StoreResult stored = store_.addFax(fax, attach);
    if (stored != StoreResult::Ok) {
        std::filesystem::remove_all(incoming, ec);
        return fail(stored == StoreResult::NotEnoughCredit ? err::kNotEnoughCredit
                                                           : err::kStorageFailed);
    }
    const std::filesystem::path folder = faxes / std::to_string(fax.id);
    std::filesystem::remove_all(folder, ec);
    std::filesystem::rename(incoming, folder, ec);
    if (!ec)
        store_.setFaxFiles(fax.id, (folder / "document.tif").string(),
                           cover.empty() ? std::string() : (folder / "cover.tif").string());

    AnswerXml xml;
    xml.setResult("TRANSFER", true);
    auto section = xml.section("TRANSFER");
    AnswerXml::addText(section, "FAX_ID", std::to_string(fax.id));
    AnswerXml::addText(section, "PREBILLING", money(fax.prebilling));
    AnswerXml::addText(section, "PAGES", std::to_string(pages));
    AnswerXml::addText(section, "DESTINATIONS", std::to_string(fax.destinations.size()));
    xml.setResult("AUTHENTICATION", true);
    xml.setResult("VALIDATION", valid == fax.destinations.size());
    Answer a = xml.finish("convert_and_transfer");
    a.user = account.login;
    return a;
}

Answer Service::faxStatus(const FormData& form, std::int64_t nowMs, std::string_view peer) {
    const std::string login = fromWindows1252(form.value("username"));
    auto fail = [&](int code) {
        Answer a = errorAnswer(code, "get_fax_status", "GET_FAX_STATUS");
        a.user = cleanText(login);
        return a;
    };
    Login auth = authenticate(login, fromWindows1252(form.value("password")), peer);
    if (auth.error)
        return fail(auth.error);
    const std::string faxIdText = fromWindows1252(form.value("faxId"));
    if (faxIdText.empty())
        return fail(err::kFieldMissing);
    const auto faxId = parseId(faxIdText);
    std::optional<Fax> fax;
    if (faxId)
        fax = store_.findFax(auth.account->id, *faxId);
    if (!fax)
        return fail(err::kUnknownFax);

    if (config_.minPollIntervalMs > 0) {
        std::lock_guard lock(pollMutex_);
        // Entries older than the interval decide nothing any more.
        if (lastPoll_.size() > 10000)
            std::erase_if(lastPoll_, [&](const auto& entry) {
                return nowMs - entry.second >= config_.minPollIntervalMs;
            });
        auto& last = lastPoll_[{fax->accountId, fax->id}];
        if (last != 0 && nowMs - last < config_.minPollIntervalMs)
            return fail(err::kPolledTooFast);
        last = nowMs;
    }

    AnswerXml xml;
    xml.setResult("GET_FAX_STATUS", true);
    auto section = xml.section("GET_FAX_STATUS");
    const bool delivered = nowMs >= fax->readyMs;
    for (const Destination& d : fax->destinations) {
        const bool immediate = d.finalStatus == kInvalidNumberStatus;
        const bool final = delivered || immediate;
        auto node = section.append_child("FAX");
        AnswerXml::addText(node, "FAX_ID", std::to_string(fax->id));
        AnswerXml::addText(node, "RECIPIENT", d.number);
        AnswerXml::addText(node, "NAME", d.name);
        AnswerXml::addText(
            node, "COST",
            money(final ? d.cost : (immediate ? 0.0 : expectedCost(fax->pages, config_.rate))));
        AnswerXml::addText(node, "STATUS", final ? d.finalStatus : std::string());
    }
    Answer a = xml.finish("get_fax_status");
    a.user = auth.account->login;
    return a;
}

// --- text exchanges (UTF-8) -------------------------------------------------

Answer Service::convert(const FormData& form, std::string_view peer) {
    const std::string login = cleanText(form.value("username"));
    auto fail = [&](int code) {
        Answer a = errorAnswer(code, "convert", "CONVERT");
        a.user = login;
        return a;
    };
    Login auth = authenticate(form.value("username"), form.value("password"), peer);
    if (auth.error)
        return fail(auth.error);
    const std::string text = form.value("coverpage");
    if (text.size() > config_.maxCoverTextBytes)
        return fail(err::kCoverTextTooLong);
    CoverRequest request;
    for (const auto& [number, name] : formDestinations(form)) {
        if (request.destinations.size() >= config_.maxDestinations)
            return fail(err::kTooManyNumbers);
        request.destinations.emplace_back(cleanText(number), cleanText(name));
    }
    const std::string pageCount = form.value("pagecount");
    request.pageCount = pageCount.empty() ? 1 : static_cast<int>(parseDecimal(pageCount));
    if (request.pageCount < 1 || request.pageCount > config_.maxPages + 1)
        return fail(err::kInvalidValue);
    request.text = cleanText(text);
    request.sender = auth.account->login;
    Answer a;
    a.body = renderCoverPage(request);
    if (a.body.empty())
        return fail(err::kCoverPageFailed);
    a.contentType = "image/tiff";
    a.action = "convert";
    a.user = auth.account->login;
    return a;
}

Answer Service::getPreferences(const FormData& form, std::string_view peer) {
    Login auth = authenticate(form.value("username"), form.value("password"), peer);
    if (auth.error) {
        Answer a = errorAnswer(auth.error, "get_user_preferences", "GET_USER_PREFERENCES");
        a.user = cleanText(form.value("username"));
        return a;
    }
    const Preferences& p = auth.account->preferences;
    AnswerXml xml;
    xml.setResult("GET_USER_PREFERENCES", true);
    auto s = xml.section("GET_USER_PREFERENCES");
    AnswerXml::addText(s, "REDIRECTION_TO_EMAIL", p.redirectToEmail);
    AnswerXml::addText(s, "REDIRECTION_FILE_FORMAT", p.fileFormat);
    AnswerXml::addText(s, "SMS_ALERT", p.smsAlert);
    AnswerXml::addText(s, "EMAIL_ALERT", p.emailAlert);
    AnswerXml::addText(s, "FAX_HEADER_STRING", p.faxHeader);
    AnswerXml::addText(s, "FAX_HEADER_EDITABLE", p.headerEditable ? "1" : "0");
    AnswerXml::addText(s, "SMS_NUMBER", p.smsNumber);
    Answer a = xml.finish("get_user_preferences");
    a.user = auth.account->login;
    return a;
}

Answer Service::updatePreferences(const FormData& form, std::string_view peer) {
    const std::string login = cleanText(form.value("username"));
    auto fail = [&](int code) {
        Answer a = errorAnswer(code, "update_user_preferences", "UPDATE_USER_PREFERENCES");
        a.user = login;
        return a;
    };
    Login auth = authenticate(form.value("username"), form.value("password"), peer);
    if (auth.error)
        return fail(auth.error);
    const Account& account = *auth.account;

    // Check everything first; change nothing unless all of it is acceptable.
    const FormPart* newEmail = form.find("newEmail");
    const FormPart* newPassword = form.find("newPassword");
    const bool parameters = form.has("redirectToEmail") || form.has("redirectFileFormat") ||
                            form.has("smsAlert") || form.has("emailAlert") ||
                            form.has("faxHeader") || form.has("smsNumber");
    if (!newEmail && !newPassword && !parameters)
        return fail(err::kFieldMissing);
    if (newEmail &&
        (!plausibleEmail(newEmail->value) || cleanText(newEmail->value) != newEmail->value))
        return fail(err::kEmailInvalidOrTaken);
    if (newPassword && (newPassword->value.size() > 259 || characters(newPassword->value) > 259))
        return fail(err::kInvalidValue);

    Preferences p = account.preferences;
    if (parameters) {
        // The dialog sends the switches every time and leaves out empty
        // texts: a missing SMS number (or header, while it may be edited) is
        // an emptied one. A missing e-mail alert keeps its value: the dialog
        // leaves it out while redirection is on.
        const std::string redirect = form.value("redirectToEmail");
        const std::string format = form.value("redirectFileFormat");
        const std::string sms = form.value("smsAlert");
        const std::string email = form.value("emailAlert");
        if ((form.has("redirectToEmail") && !isOnOff(redirect)) ||
            (form.has("redirectFileFormat") && format != "PDF" && format != "TIFF") ||
            (form.has("smsAlert") && !isOnOff(sms)) || (form.has("emailAlert") && !isOnOff(email)))
            return fail(err::kInvalidValue);
        const FormPart* header = form.find("faxHeader");
        if (header && (!p.headerEditable || characters(header->value) > 100 ||
                       cleanText(header->value) != header->value))
            return fail(err::kInvalidValue);
        const FormPart* smsNumber = form.find("smsNumber");
        if (smsNumber && (!normalizeNumber(smsNumber->value) || smsNumber->value.size() > 40))
            return fail(err::kInvalidValue);
        if (form.has("redirectToEmail"))
            p.redirectToEmail = redirect;
        if (form.has("redirectFileFormat"))
            p.fileFormat = format;
        if (form.has("smsAlert"))
            p.smsAlert = sms;
        if (form.has("emailAlert"))
            p.emailAlert = email;
        if (header)
            p.faxHeader = header->value;
        else if (p.headerEditable && form.has("redirectToEmail"))
            p.faxHeader.clear();
        if (smsNumber)
            p.smsNumber = smsNumber->value;
        else if (form.has("redirectToEmail"))
            p.smsNumber.clear();
    }

    // Whether another account holds the address is told only about an
    // otherwise acceptable request, so it cannot be probed with a bad one.
    if (newEmail) {
        auto holder = store_.findAccount(newEmail->value);
        if (holder && holder->id != account.id)
            return fail(err::kEmailInvalidOrTaken);
    }

    if (parameters && store_.setPreferences(account.id, p) != StoreResult::Ok)
        return fail(err::kStorageFailed);
    if (newPassword &&
        store_.setPasswordHash(account.id, hashPassword(newPassword->value)) != StoreResult::Ok)
        return fail(err::kStorageFailed);
    if (newEmail) {
        const StoreResult r = store_.setLogin(account.id, newEmail->value);
        if (r == StoreResult::Exists)
            return fail(err::kEmailInvalidOrTaken);
        if (r != StoreResult::Ok)
            return fail(err::kStorageFailed);
    }
    AnswerXml xml;
    xml.setResult("UPDATE_USER_PREFERENCES", true);
    Answer a = xml.finish("update_user_preferences");
    a.user = account.login;
    return a;
}

void Service::addAddressBook(AnswerXml& xml, std::int64_t accountId) {
    xml.setResult("GET_ADDRESS_BOOK", true);
    auto section = xml.section("GET_ADDRESS_BOOK");
    for (const ContactRecord& c : store_.addressBook(accountId)) {
        auto node = section.append_child("CONTACT");
        AnswerXml::addText(node, "ID", std::to_string(c.id));
        AnswerXml::addText(node, "NAME", c.name);
        AnswerXml::addText(node, "NUMBER", c.number);
        AnswerXml::addText(node, "GSMNUMBER", c.gsmNumber);
        AnswerXml::addText(node, "GROUPID", std::to_string(c.groupId));
        AnswerXml::addText(node, "GROUPNAME", c.groupName);
    }
}

Answer Service::getAddressBook(const FormData& form, std::string_view peer) {
    Login auth = authenticate(form.value("username"), form.value("password"), peer);
    if (auth.error) {
        Answer a = errorAnswer(auth.error, "get_address_book", "GET_ADDRESS_BOOK");
        a.user = cleanText(form.value("username"));
        return a;
    }
    AnswerXml xml;
    addAddressBook(xml, auth.account->id);
    Answer a = xml.finish("get_address_book");
    a.user = auth.account->login;
    return a;
}

Answer Service::updateAddressBook(const FormData& form, std::string_view peer) {
    const std::string login = cleanText(form.value("username"));
    auto fail = [&](int code) {
        AnswerXml xml;
        xml.setError(code);
        xml.setResult("UPDATE_ADDRESS_BOOK", false);
        xml.setResult("GET_ADDRESS_BOOK", false);
        Answer a = xml.finish("update_address_book");
        a.user = login;
        return a;
    };
    Login auth = authenticate(form.value("username"), form.value("password"), peer);
    if (auth.error)
        return fail(auth.error);

    // contacts[i][field], gathered by index in the order the indexes appear.
    struct Entry {
        std::optional<std::string> id, name, number, gsm;
    };
    std::vector<std::string> order;
    std::map<std::string, Entry> entries;
    for (const FormPart& part : form.parts) {
        if (part.isFile() || part.name.rfind("contacts[", 0) != 0)
            continue;
        const std::size_t close = part.name.find("][", 9);
        if (close == std::string::npos || part.name.back() != ']')
            return fail(err::kUnreadableRequest);
        const std::string index = part.name.substr(9, close - 9);
        const std::string field = part.name.substr(close + 2, part.name.size() - close - 3);
        if (!entries.count(index))
            order.push_back(index);
        Entry& e = entries[index];
        if (field == "id")
            e.id = part.value;
        else if (field == "name")
            e.name = part.value;
        else if (field == "number")
            e.number = part.value;
        else if (field == "gsmnumber")
            e.gsm = part.value;
        else
            return fail(err::kUnreadableRequest);
    }
    std::vector<ContactChange> changes;
    for (const std::string& index : order) {
        const Entry& e = entries[index];
        if (!e.id)
            return fail(err::kFieldMissing);
        const auto id = parseId(*e.id);
        if (!id)
            return fail(err::kInvalidValue);
        ContactChange c;
        c.id = *id;
        c.deleteOnly = !e.name && !e.number && !e.gsm;
        c.name = e.name.value_or("");
        c.number = e.number.value_or("");
        c.gsmNumber = e.gsm.value_or("");
        if (characters(c.name) > 59 || characters(c.number) > 29 || characters(c.gsmNumber) > 29 ||
            cleanText(c.name) != c.name || cleanText(c.number) != c.number ||
            cleanText(c.gsmNumber) != c.gsmNumber)
            return fail(err::kInvalidValue);
        if (c.id == 0 && c.deleteOnly)
            continue;  // a contact the service never had: nothing to delete
        if (!c.deleteOnly && c.number.empty())
            return fail(err::kFieldMissing);
        changes.push_back(std::move(c));
    }
    if (store_.applyContactChanges(auth.account->id, changes) != StoreResult::Ok)
        return fail(err::kStorageFailed);
    AnswerXml xml;
    xml.setResult("UPDATE_ADDRESS_BOOK", true);
    addAddressBook(xml, auth.account->id);
    Answer a = xml.finish("update_address_book");
    a.user = auth.account->login;
    return a;
}

}  // namespace miravo::server
