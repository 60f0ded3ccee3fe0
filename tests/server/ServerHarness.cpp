#include "tests/server/ServerHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>

#include "app/Text.h"
#include "server/FaxTiffIo.h"
#include "service/MultipartForm.h"

namespace miravo::server::test {

std::filesystem::path serverProgram() {
    return std::filesystem::path(MIRAVO_BINARY_DIR) / "bin" / "miravo-server";
}

ServerProcess::ServerProcess(std::vector<std::string> args) : args_(std::move(args)) {}

ServerProcess::~ServerProcess() {
    if (pid_ > 0)
        stop();
    if (reader_.joinable())
        reader_.join();
}

std::string ServerProcess::url() const {
    return "https://127.0.0.1:" + std::to_string(port_) + "/api2/proxy.php";
}

std::string ServerProcess::output() {
    std::lock_guard lock(mutex_);
    return output_;
}

bool ServerProcess::start() {
    std::vector<std::string> args = {serverProgram().string(),
                                     "--data",
                                     data_.path().string(),
                                     "--port",
                                     "0",
                                     "--version-port",
                                     "0",
                                     "--demo"};
    args.insert(args.end(), args_.begin(), args_.end());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        miravo::test::DieWithParent(parent);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    outFd_ = fds[0];
    reader_ = std::thread([this] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(outFd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            std::lock_guard lock(mutex_);
            output_.append(buffer, static_cast<std::size_t>(n));
        }
        close(outFd_);
    });
    const std::regex listening("listening on https://127\\.0\\.0\\.1:([0-9]+)/");
    const std::regex version("version page http://127\\.0\\.0\\.1:([0-9]+)/");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string out = output();
        std::smatch m;
        if (std::regex_search(out, m, listening)) {
            port_ = std::stoi(m[1]);
            if (std::regex_search(out, m, version))
                versionPort_ = std::stoi(m[1]);
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            // Everything it said before it ended: its output closes with it.
            if (reader_.joinable())
                reader_.join();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int ServerProcess::stop() {
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 1000; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            if (reader_.joinable())
                reader_.join();
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return -1;
}

int ServerProcess::command(const std::vector<std::string>& args) const {
    std::string line = serverProgram().string();
    auto quote = [](const std::string& s) {
        std::string q = "'";
        for (char c : s)
            q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    };
    for (const auto& a : args)
        line += " " + quote(a);
    line += " --data " + quote(data_.path().string()) + " >/dev/null 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

AppSettings transportSettings(const ServerProcess& server) {
    AppSettings settings;
    settings.serviceHost = u"127.0.0.1:" + fromUtf8(std::to_string(server.port()));
    settings.objectPath = u"api2/proxy.php";
    settings.caFile = fromUtf8(server.caFile().string());
    return settings;
}

namespace {

bool isFaxAction(const Fields& fields) {
    for (const auto& [name, value] : fields)
        if (name == "action")
            return value == "authentication" || value == "get_fax_status" ||
                   value == "convert_and_transfer";
    return false;
}

FaxForm faxForm(const Fields& fields) {
    FaxForm form;
    for (const auto& [name, value] : fields) {
        if (name == "coverpage")
            form.addCoverPage(value);
        else
            form.add(name, value);
    }
    return form;
}

Reply timed(const std::function<ExchangeResult()>& run) {
    const auto started = std::chrono::steady_clock::now();
    ExchangeResult result = run();
    Reply reply;
    reply.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    reply.outcome = result.outcome;
    reply.status = result.httpStatus;
    reply.body = std::move(result.answer);
    reply.error = std::move(result.error);
    return reply;
}

}  // namespace

Reply viaTransport(const AppSettings& settings, const Fields& fields) {
    if (isFaxAction(fields)) {
        const FaxForm form = faxForm(fields);
        return timed([&] { return PostFaxRequest(settings, form); });
    }
    MultipartForm form(kLargeFormCapacity);
    for (const auto& [name, value] : fields) {
        const std::size_t before = form.body().size();
        form.add(fromUtf8(name), fromUtf8(value));
        if (form.body().size() == before)
            ADD_FAILURE() << "the text form leaves out the field " << name;
    }
    return timed([&] { return PostForm(settings, form); });
}

Reply uploadFax(const AppSettings& settings, const Fields& fields, const std::string& document) {
    miravo::test::TempDir folder;
    const auto file = folder.path() / "tosend.tif";
    std::ofstream(file, std::ios::binary) << document;
    FaxForm form = faxForm(fields);
    form.addDocumentHeader();
    return timed([&] { return PostFaxUpload(settings, form, fromUtf8(file.string())); });
}

std::string part(const std::string& name, const std::string& value) {
    return "----AaB03x\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

std::string form(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string body;
    for (const auto& [name, value] : fields)
        body += part(name, value);
    return body;
}

std::string upload(const std::vector<std::pair<std::string, std::string>>& fields,
                   const std::string& file) {
    return form(fields) +
           "----AaB03x\r\nContent-Disposition: form-data; name=\"document\"; "
           "filename=\"image.tif\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
           file + "\r\n----AaB03x--\r\n";
}

namespace {
size_t collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}
}  // namespace

HttpsClient::HttpsClient(const std::filesystem::path& caFile, long timeoutSeconds)
    : curl_(curl_easy_init()), ca_(caFile.string()), timeout_(timeoutSeconds) {}

HttpsClient::~HttpsClient() {
    curl_easy_cleanup(curl_);
}

RawReply HttpsClient::post(const std::string& url, const std::string& body,
                           const std::string& contentType) {
    RawReply reply;
    curl_easy_reset(curl_);
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, ("Content-Type: " + contentType).c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_CAINFO, ca_.c_str());
    curl_easy_setopt(curl_, CURLOPT_POST, 1L);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl_, CURLOPT_USERAGENT, "Miravo 3.0.1");
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, timeout_);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    reply.code = curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    return reply;
}

RawReply HttpsClient::get(const std::string& url) {
    RawReply reply;
    curl_easy_reset(curl_);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_CAINFO, ca_.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    reply.code = curl_easy_perform(curl_);
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
    return reply;
}

std::string xmlValue(const std::string& answer, const std::string& path, std::size_t index) {
    pugi::xml_document doc;
    if (!doc.load_buffer(answer.data(), answer.size()))
        return {};
    const auto nodes = doc.select_nodes(("/" + path).c_str());
    if (index >= nodes.size())
        return {};
    return (nodes.begin() + index)->node().text().get();
}

std::size_t xmlCount(const std::string& answer, const std::string& path) {
    pugi::xml_document doc;
    if (!doc.load_buffer(answer.data(), answer.size()))
        return 0;
    return doc.select_nodes(("/" + path).c_str()).size();
}

std::string faxDocument() {
    QImage image(1728, 2292, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(200, 200, 600, 400, Qt::black);
    return encodeFaxPage(image);
}

}  // namespace miravo::server::test
