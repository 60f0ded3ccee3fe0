// The service's answers: XML documents rooted at API_RESULT (built with
// pugixml), or raw bytes such as a cover-page TIFF.
#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace miravo::server {

// Error codes of API_RESULT/ERROR. Their meanings are fixed: the client shows
// a text for each of them (see server/README.md).
namespace err {
inline constexpr int kUserNameMissing = 101;
inline constexpr int kPasswordMissing = 102;
inline constexpr int kNoDocument = 103;
inline constexpr int kDocumentUnreadable = 104;
inline constexpr int kCoverPageFailed = 105;  // the cover page could not be rendered
inline constexpr int kStorageFailed = 106;    // the service could not store the request
inline constexpr int kAuthenticationFailed = 107;
inline constexpr int kAccountDisabled = 108;
inline constexpr int kNotEnoughCredit = 110;
inline constexpr int kNoValidNumber = 111;
inline constexpr int kTooManyNumbers = 112;
inline constexpr int kUnknownFax = 113;
inline constexpr int kTooManyPages = 114;
inline constexpr int kCoverTextTooLong = 115;
inline constexpr int kEmailInvalidOrTaken = 116;
inline constexpr int kUnavailable = 200;
inline constexpr int kMaintenance = 201;
inline constexpr int kPolledTooFast = 301;
inline constexpr int kUnreadableRequest = 401;
inline constexpr int kFieldMissing = 402;
inline constexpr int kRequestTooLarge = 403;
inline constexpr int kUnknownAction = 404;
inline constexpr int kInvalidValue = 405;
}  // namespace err

struct Answer {
    std::string body;
    std::string contentType = "text/xml; charset=utf-8";
    int error = 0;       // the ERROR code sent, 0 when none
    std::string action;  // as requested, for the request log
    std::string user;    // login the request named, for the request log
};

// Builds one API_RESULT document.
class AnswerXml {
  public:
    AnswerXml();
    pugi::xml_node root() { return root_; }
    // <NAME><RESULT>value</RESULT></NAME>, created once per name.
    pugi::xml_node section(std::string_view name);
    void setResult(std::string_view section, bool ok);
    void setError(int code);
    static pugi::xml_node addText(pugi::xml_node parent, std::string_view name,
                                  std::string_view text);
    Answer finish(std::string_view action);

  private:
    pugi::xml_document doc_;
    pugi::xml_node root_;
    int error_ = 0;
};

// An answer carrying only ERROR (and RESULT "1" in the section, if named).
Answer errorAnswer(int code, std::string_view action = {}, std::string_view section = {});

}  // namespace miravo::server
