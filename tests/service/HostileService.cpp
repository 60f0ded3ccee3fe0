#include "tests/service/HostileService.h"

#include <thread>

namespace miravo::test {

namespace {

std::string document(const std::string& inner) {
    return "<?xml version=\"1.0\"?><API_RESULT>" + inner + "</API_RESULT>";
}

std::string http(int status, const std::string& body) {
    return LoopbackServer::httpAnswer(status, body);
}

const std::string kVerdicts =
    "<AUTHENTICATION><RESULT>0</RESULT></AUTHENTICATION><VALIDATION><RESULT>0</RESULT>"
    "</VALIDATION>";

std::string goodAnswer(const std::string& action) {
    if (action == "convert_and_transfer")
        return document("<TRANSFER><RESULT>0</RESULT><FAX_ID>77</FAX_ID>"
                        "<PREBILLING>0.30</PREBILLING></TRANSFER>" +
                        kVerdicts);
    if (action == "get_fax_status")
        return document("<GET_FAX_STATUS><RESULT>0</RESULT><FAX><FAX_ID>77</FAX_ID>"
                        "<RECIPIENT>+49 30 1</RECIPIENT><COST>0.30</COST><STATUS>OK</STATUS>"
                        "</FAX></GET_FAX_STATUS>");
    return document(kVerdicts);
}

// An ERROR of 110 inside `depth` nested elements.
std::string nested(int depth) {
    std::string text;
    text.reserve(static_cast<std::size_t>(depth) * 7 + 64);
    for (int i = 0; i < depth; ++i)
        text += "<a>";
    text += "110";
    for (int i = 0; i < depth; ++i)
        text += "</a>";
    return document("<ERROR>" + text + "</ERROR>");
}

std::string actionOf(const RecordedRequest& request) {
    const std::string head = "Content-Disposition: form-data; name=\"action\"\r\n\r\n";
    const auto at = request.body.find(head);
    if (at == std::string::npos)
        return {};
    const auto start = at + head.size();
    return request.body.substr(start, request.body.find("\r\n", start) - start);
}

}  // namespace

std::vector<HostileCase> HostileCases() {
    using Kind = HostileCase::Kind;
    const std::string success = document(kVerdicts);
    std::string emptyRecords;
    for (int i = 0; i < 100000; ++i)
        emptyRecords += "<FAX/>";
    return {
        {"nesting 70k", "authentication", Kind::Answer, http(200, nested(70000))},
        {"nesting 140k", "authentication", Kind::Answer, http(200, nested(140000))},
        {"drip", "authentication", Kind::Drip, {}},
        {"endless body", "convert_and_transfer", Kind::Endless, {}},
        {"junk after the root", "authentication", Kind::Answer, http(200, success + "junk")},
        {"junk before the root", "authentication", Kind::Answer, http(200, "junk" + success)},
        {"302 with a success", "authentication", Kind::Answer,
         "HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1/elsewhere\r\nContent-Length: " +
             std::to_string(success.size()) + "\r\nConnection: close\r\n\r\n" + success},
        {"500", "authentication", Kind::Answer, http(500, success)},
        {"100k empty records", "get_fax_status", Kind::Answer,
         http(200, document("<GET_FAX_STATUS><RESULT>0</RESULT>" + emptyRecords +
                            "</GET_FAX_STATUS>"))},
        {"dropped upload", "convert_and_transfer", Kind::Drop, {}},
    };
}

void ServeHostile(LoopbackServer& server, const HostileCase& hostile) {
    using namespace std::chrono_literals;
    // Far less than any document, more than any request without one.
    server.dropAfterBodyBytes(hostile.kind == HostileCase::Kind::Drop ? 1500 : 0);
    server.setStreamer([hostile](const RecordedRequest& request, const LoopbackServer::Send& send) {
        const std::string action = actionOf(request);
        if (action != hostile.action) {
            send(http(200, goodAnswer(action)));
            return;
        }
        switch (hostile.kind) {
            case HostileCase::Kind::Answer:
            case HostileCase::Kind::Drop:
                send(hostile.answer);
                break;
            case HostileCase::Kind::Drip:
                if (!send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<API_RESULT>"))
                    return;
                while (send(" "))
                    std::this_thread::sleep_for(400ms);
                break;
            case HostileCase::Kind::Endless: {
                if (!send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"))
                    return;
                const std::string chunk = "1000\r\n" + std::string(0x1000, ' ') + "\r\n";
                while (send(chunk)) {
                }
                break;
            }
        }
    });
}

}  // namespace miravo::test
