// What the send tests share: a report that records what the worker shows,
// a scripted credentials prompt, recorded waits, and a fixture with a
// loopback HTTPS service that answers from a script.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/AppState.h"
#include "app/LanguageTable.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "app/WorkerReport.h"
#include "service/CredentialsPrompt.h"
#include "service/FaxTransmission.h"
#include "tests/TestSupport.h"
#include "tests/service/LoopbackServer.h"

namespace miravo::test {

// Records every call; the window counts as closed once `closeAfterLabels`
// label writes were seen or close() was called.
class RecordingReport : public WorkerReport {
  public:
    void setTitle(const std::u16string& text) override {
        std::lock_guard lock(mutex_);
        title = text;
    }
    void setLabel(int id, const std::u16string& text) override {
        std::lock_guard lock(mutex_);
        labels[id] = text;
        history.emplace_back(id, text);
    }
    void beginProgress(int maximum) override {
        std::lock_guard lock(mutex_);
        progressMaximum = maximum;
    }
    void stepProgress() override {
        std::lock_guard lock(mutex_);
        ++progressSteps;
    }
    void setPolling(bool on) override {
        std::lock_guard lock(mutex_);
        polling.push_back(on);
    }
    void enableClose() override {
        std::lock_guard lock(mutex_);
        ++closeEnabled;
    }
    void close(int result) override {
        std::lock_guard lock(mutex_);
        closes.push_back(result);
        open = false;
    }
    bool isOpen() const override { return open; }

    std::u16string label(int id) {
        std::lock_guard lock(mutex_);
        auto found = labels.find(id);
        return found == labels.end() ? std::u16string() : found->second;
    }
    bool hasLabel(int id) {
        std::lock_guard lock(mutex_);
        return labels.count(id) > 0;
    }

    std::atomic<bool> open{true};
    std::u16string title;
    std::map<int, std::u16string> labels;
    std::vector<std::pair<int, std::u16string>> history;
    int progressMaximum = -1;
    int progressSteps = 0;
    std::vector<bool> polling;
    int closeEnabled = 0;
    std::vector<int> closes;

  private:
    std::mutex mutex_;
};

// Answers the prompt from a list: each entry a user name and password to
// confirm, or nullopt to give up. Gives up when the list is used up.
class ScriptedPrompt : public CredentialsPrompt {
  public:
    struct Entry {
        bool confirm = true;
        std::u16string user;
        std::u16string password;
    };
    std::deque<Entry> entries;
    int asked = 0;

    bool ask(AppState& state) override {
        ++asked;
        if (entries.empty())
            return false;
        const Entry e = entries.front();
        entries.pop_front();
        if (!e.confirm)
            return false;
        state.settings.userName = e.user;
        state.settings.password = e.password;
        return true;
    }
};

// Waits that are recorded and not slept.
struct RecordedWaits {
    std::vector<std::uint32_t> waits;
    std::function<void(std::uint32_t)> hook;  // runs at each wait

    SendTiming timing() {
        SendTiming t;
        t.sleep = [this](std::uint32_t ms) {
            waits.push_back(ms);
            if (hook)
                hook(ms);
        };
        return t;
    }
};

inline std::string xmlAnswer(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><API_RESULT>" + inner + "</API_RESULT>";
}

// The value of a form field in a recorded body ("" when absent).
inline std::string formField(const std::string& body, const std::string& name) {
    const std::string head = "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    const auto at = body.find(head);
    if (at == std::string::npos)
        return {};
    const auto start = at + head.size();
    return body.substr(start, body.find("\r\n", start) - start);
}

// The field names of a body, in order.
inline std::vector<std::string> formFieldNames(const std::string& body) {
    std::vector<std::string> names;
    const std::string head = "Content-Disposition: form-data; name=\"";
    for (auto at = body.find(head); at != std::string::npos; at = body.find(head, at + 1)) {
        const auto start = at + head.size();
        names.push_back(body.substr(start, body.find('"', start) - start));
    }
    return names;
}

class SendFixture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ClearProxyEnvironment();
        certificates_ = new TestCertificates(TestCertificates::make({"IP:127.0.0.1"}));
    }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }

    void SetUp() override {
        server_ = std::make_unique<LoopbackServer>(certificates_);
        server_->setResponder([this](const RecordedRequest& request) {
            std::lock_guard lock(mutex_);
            const std::string action = formField(request.body, "action");
            std::string answer = xmlAnswer("<ERROR>0</ERROR>");
            auto found = script_.find(action);
            if (found != script_.end() && !found->second.empty()) {
                answer = found->second.front();
                if (found->second.size() > 1)
                    found->second.pop_front();
            }
            if (answer == "<drop>")
                return std::string();
            return LoopbackServer::httpAnswer(200, answer);
        });
        writeBytes(dir_ / "ca.pem", certificates_->caPem);
        AppSettings& s = state_.settings;
        s.serviceHost = u16("127.0.0.1:" + std::to_string(server_->port()));
        s.objectPath = u"api2/proxy.php";
        s.caFile = fromUtf8((dir_ / "ca.pem").string());
        s.userName = u"demo@miravo.test";
        s.password = u"demo";
        s.timeoutMs = 1000;
        OverrideApplicationDataFolder(fromUtf8((dir_ / "appdata").string()));
        ASSERT_EQ(
            LoadLanguage(state_.language, fromUtf8(MIRAVO_SOURCE_DIR "/data/lang.ini"), u"en"), 1);
        state_.job.documentPath = document(3);
    }
    void TearDown() override { OverrideApplicationDataFolder(std::nullopt); }

    // A document file whose name carries the page count.
    std::u16string document(int pages,
                            const std::string& bytes = std::string("II*\0fax pages", 13)) {
        const std::string name = "tosend_res__" + std::to_string(pages) + ".tif";
        writeBytes(dir_ / name, bytes);
        return fromUtf8((dir_ / name).string());
    }

    // Queues answers for an action; the last one stays for later requests.
    void answer(const std::string& action, std::vector<std::string> answers) {
        std::lock_guard lock(mutex_);
        auto& queue = script_[action];
        queue.clear();
        for (auto& a : answers)
            queue.push_back(std::move(a));
    }

    std::vector<RecordedRequest> requests(const std::string& action) const {
        std::vector<RecordedRequest> out;
        for (const auto& r : server_->requests())
            if (formField(r.body, "action") == action)
                out.push_back(r);
        return out;
    }

    std::string storedAnswer() const { return readBytes(dir_ / "appdata/result.xml"); }

    std::u16string text(int id) const { return GetText(state_.language, id); }

    static Recipient single(const std::u16string& number, const std::u16string& name = u"") {
        Recipient r;
        r.kind = Single;
        r.number = number;
        r.name = name;
        return r;
    }
    static Recipient group(const std::u16string& name, std::vector<std::u16string> members,
                           const std::u16string& groupname = u"") {
        Recipient r;
        r.kind = Group;
        r.name = name;
        r.groupname = groupname;
        r.number = u"[" + name + u"]";
        r.members = std::move(members);
        return r;
    }

    static TestCertificates* certificates_;
    TempDir dir_;
    AppState state_;
    RecordingReport report_;
    RecordedWaits waits_;
    std::unique_ptr<LoopbackServer> server_;
    std::mutex mutex_;
    std::map<std::string, std::deque<std::string>> script_;
};

inline TestCertificates* SendFixture::certificates_ = nullptr;

}  // namespace miravo::test
