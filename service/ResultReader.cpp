#include "service/ResultReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <pugixml.hpp>
#include <vector>

#include "app/FileBytes.h"
#include "app/Paths.h"
#include "app/Text.h"
#include "service/AnswerDocument.h"

namespace miravo {

namespace {

constexpr off_t kMaxAnswerFileBytes = off_t(64) << 20;

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

}  // namespace

struct ApiAnswer::Impl {
    pugi::xml_document document;
    // The matches of every path asked for so far, so that reading the n-th
    // of many elements does not walk the document again.
    mutable std::mutex mutex;
    mutable std::map<std::u16string, std::shared_ptr<const std::vector<pugi::xml_node>>,
                     std::less<>>
        matches;

    std::shared_ptr<const std::vector<pugi::xml_node>> select(std::u16string_view path) const {
        std::lock_guard lock(mutex);
        if (auto found = matches.find(path); found != matches.end())
            return found->second;
        auto nodes = std::make_shared<std::vector<pugi::xml_node>>();
        if (!path.empty()) {
            std::vector<pugi::xml_node> current{document};
            std::size_t start = 0;
            while (start <= path.size() && !current.empty()) {
                const auto slash = path.find(u'/', start);
                const std::size_t end = slash == std::u16string_view::npos ? path.size() : slash;
                const std::string name = toUtf8(path.substr(start, end - start));
                std::vector<pugi::xml_node> next;
                if (!name.empty()) {
                    // Children of nodes in document order are in document order.
                    for (const pugi::xml_node& node : current) {
                        for (const pugi::xml_node& child : node.children(name.c_str()))
                            next.push_back(child);
                    }
                }
                current = std::move(next);
                if (slash == std::u16string_view::npos)
                    break;
                start = slash + 1;
            }
            *nodes = std::move(current);
        }
        matches.emplace(std::u16string(path), nodes);
        return nodes;
    }
};

ApiAnswer::ApiAnswer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ApiAnswer::~ApiAnswer() = default;

std::shared_ptr<const ApiAnswer> ApiAnswer::parse(std::string_view bytes) {
    auto impl = std::make_unique<Impl>();
    if (!LoadAnswerDocument(impl->document, bytes))
        return nullptr;
    return std::shared_ptr<const ApiAnswer>(new ApiAnswer(std::move(impl)));
}

unsigned ApiAnswer::count(std::u16string_view elementPath) const {
    return static_cast<unsigned>(impl_->select(elementPath)->size());
}

namespace {

// The text of a node into `out`, cut to the capacity; false when empty.
bool nodeText(const pugi::xml_node& node, std::u16string& out, std::size_t capacity) {
    const std::string text = ElementText(node);
    if (text.empty())
        return false;
    std::u16string value = fromUtf8(text);
    const std::size_t room = capacity == 0 ? 0 : capacity - 1;
    if (value.size() > room) {
        std::size_t cut = room;
        if (cut > 0 && isHighSurrogate(value[cut - 1]))
            --cut;
        value.resize(cut);
    }
    out = std::move(value);
    return true;
}

}  // namespace

void ApiAnswer::forEachRecord(
    std::u16string_view parentPath, const std::vector<std::u16string_view>& childNames,
    std::size_t capacity,
    const std::function<bool(std::vector<std::u16string>& fields)>& use) const {
    std::vector<std::string> names;
    for (const std::u16string_view name : childNames)
        names.push_back(toUtf8(name));
    const auto nodes = impl_->select(parentPath);
    std::vector<std::u16string> fields(names.size());
    std::vector<bool> seen(names.size());
    for (const pugi::xml_node& node : *nodes) {
        for (std::size_t k = 0; k < names.size(); ++k) {
            fields[k].clear();
            seen[k] = false;
        }
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element)
                continue;
            for (std::size_t k = 0; k < names.size(); ++k) {
                if (!seen[k] && names[k] == child.name()) {
                    seen[k] = true;
                    nodeText(child, fields[k], capacity);
                }
            }
        }
        if (!use(fields))
            return;
    }
}

unsigned ApiAnswer::value(std::u16string_view elementPath, std::u16string& out,
                          std::size_t capacity, unsigned index) const {
    out.clear();
    const auto nodes = impl_->select(elementPath);
    if (index >= nodes->size() || !nodeText((*nodes)[index], out, capacity))
        return 0;
    return static_cast<unsigned>(nodes->size());
}

namespace {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};

    static FileIdentity of(const struct stat& info) {
        return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    }
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

struct LastAnswer {
    std::mutex mutex;
    std::u16string path;
    FileIdentity identity;
    std::string bytes;                        // what was parsed
    std::shared_ptr<const ApiAnswer> answer;  // null: the file was not XML
    bool valid = false;
};

// File times come from a clock that moves in ticks of a few milliseconds,
// so a file rewritten in place within one tick keeps its times. A file
// changed this recently is therefore compared byte for byte; once its
// change time lies further back, any new change shows in the times.
constexpr long long kFreshNanoseconds = 100'000'000;

bool changedRecently(const struct stat& info) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long age =
        (now.tv_sec - info.st_ctim.tv_sec) * 1'000'000'000LL + (now.tv_nsec - info.st_ctim.tv_nsec);
    return age < kFreshNanoseconds;
}

// The whole file through one descriptor, with the identity of what was read.
bool readAnswerFile(const std::string& fsPath, std::string& bytes, struct stat& info) {
    const int fd = ::open(fsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxAnswerFileBytes;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        ok = ReadFully(fd, bytes.data(), bytes.size()) == static_cast<std::ptrdiff_t>(bytes.size());
    }
    ::close(fd);
    return ok;
}

LastAnswer& lastAnswer() {
    static LastAnswer last;
    return last;
}

}  // namespace

std::shared_ptr<const ApiAnswer> LoadAnswer(std::u16string_view filePath) {
    if (filePath.empty())
        return nullptr;
    const std::string fsPath = ToFsPath(filePath).string();
    struct stat info {};
    if (::stat(fsPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return nullptr;
    LastAnswer& last = lastAnswer();
    std::lock_guard lock(last.mutex);
    const bool sameFile =
        last.valid && last.path == filePath && last.identity == FileIdentity::of(info);
    if (sameFile && !changedRecently(info))
        return last.answer;
    std::string bytes;
    if (!readAnswerFile(fsPath, bytes, info))
        return nullptr;
    if (sameFile && bytes == last.bytes && last.identity == FileIdentity::of(info))
        return last.answer;
    last.answer = ApiAnswer::parse(bytes);
    last.path = std::u16string(filePath);
    last.identity = FileIdentity::of(info);
    last.bytes = std::move(bytes);
    last.valid = true;
    return last.answer;
}

unsigned ReadXmlValue(std::u16string_view filePath, std::u16string_view elementPath,
                      std::u16string& out, std::size_t capacity, unsigned index) {
    out.clear();
    const auto answer = LoadAnswer(filePath);
    return answer ? answer->value(elementPath, out, capacity, index) : 0;
}

}  // namespace miravo
