#include "journal/SentDocuments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "app/FileBytes.h"
#include "app/Text.h"

namespace miravo {

namespace fs = std::filesystem;

namespace {

// Writes `size` bytes from `read` into `target` through a temporary file
// in the same folder (0600), flushed to disk before it takes the name.
// errno-style failure in `error`.
template <typename Source>
bool writeWhole(const fs::path& target, Source&& source, int& error) {
    const fs::path temporary = target.parent_path() / ("." + target.filename().string() + ".part");
    const int fd = ::open(temporary.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = errno;
        return false;
    }
    ::fchmod(fd, 0600);
    bool ok = source([&](const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error = errno;
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    });
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

bool copyWhole(const fs::path& from, const fs::path& to, int& error) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = errno;
        return false;
    }
    const bool ok = writeWhole(to, [&](auto&& put) {
        char block[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(in, block, sizeof block);
            if (n == 0)
                return true;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error = errno;
                return false;
            }
            if (!put(block, static_cast<std::size_t>(n)))
                return false;
        }
    }, error);
    ::close(in);
    return ok;
}

std::int64_t sizeOf(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
}

void forget(Journal& journal, std::int64_t id) {
    std::error_code ec;
    fs::remove(KeptDocumentPath(journal, id), ec);
    fs::remove(KeptCoverPath(journal, id), ec);
    JournalKeeping keeping = journal.keeping(id);
    keeping.document = KeptDocument::Removed;
    keeping.documentBytes = 0;
    journal.recordKeeping(id, keeping);
}

}  // namespace

fs::path SentFolder(const Journal& journal) {
    return journal.path().parent_path() / "sent";
}

fs::path KeptDocumentPath(const Journal& journal, std::int64_t id) {
    return SentFolder(journal) / (std::to_string(id) + ".tif");
}

fs::path KeptCoverPath(const Journal& journal, std::int64_t id) {
    return SentFolder(journal) / (std::to_string(id) + ".txt");
}

KeepResult KeepSentDocument(Journal& journal, std::int64_t id, const fs::path& document,
                            const std::u16string& coverText) {
    KeepResult result;
    JournalKeeping keeping = journal.keeping(id);
    const fs::path folder = SentFolder(journal);
    std::error_code ec;
    fs::create_directories(folder, ec);
    ::chmod(folder.c_str(), 0700);
    int error = 0;
    bool ok = !document.empty() && copyWhole(document, KeptDocumentPath(journal, id), error);
    if (ok && !coverText.empty()) {
        const std::string text = toUtf8(coverText);
        ok = writeWhole(KeptCoverPath(journal, id),
                        [&](auto&& put) { return put(text.data(), text.size()); }, error);
        if (!ok)
            fs::remove(KeptDocumentPath(journal, id), ec);
    }
    if (ok) {
        keeping.document = KeptDocument::Kept;
        keeping.documentBytes =
            sizeOf(KeptDocumentPath(journal, id)) + sizeOf(KeptCoverPath(journal, id));
        result.kept = true;
    } else {
        keeping.document = KeptDocument::NotKept;
        keeping.documentBytes = 0;
        result.diskFull = error == ENOSPC || error == EDQUOT;
        result.error = error != 0 ? std::strerror(error) : "no document";
    }
    journal.recordKeeping(id, keeping);
    return result;
}

std::u16string KeptCoverText(const Journal& journal, std::int64_t id) {
    // Read by descriptor: a stream iterator throws on a read error.
    std::string text;
    if (ReadFileBytes(KeptCoverPath(journal, id), text) != FileRead::Read)
        return {};
    return fromUtf8(text);
}

int ApplyRetention(Journal& journal, std::uint32_t days, std::uint32_t megabytes,
                   std::int64_t now) {
    const std::vector<KeptEntry> kept = journal.keptDocuments();
    const std::int64_t oldest = now - static_cast<std::int64_t>(days) * 86400;
    std::int64_t total = 0;
    for (const KeptEntry& e : kept)
        total += e.bytes;
    const std::int64_t room = static_cast<std::int64_t>(megabytes) * 1024 * 1024;
    int removed = 0;
    for (const KeptEntry& e : kept) {
        if (e.sentAt >= oldest && total <= room)
            break;
        forget(journal, e.id);
        total -= e.bytes;
        ++removed;
    }
    return removed;
}

}  // namespace miravo
