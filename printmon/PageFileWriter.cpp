#include "printmon/PageFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "app/FileBytes.h"

namespace miravo::print {

namespace {

// Page buffers in use at most: one being written, two waiting.
constexpr std::size_t kBuffers = 3;

std::string header(const char* magic, int width, int height, bool grey) {
    return std::string(magic) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
           (grey ? "255\n" : "");
}

// Writes `head` then `size` bytes of pixels into a new file of this user's.
bool writeFile(const std::filesystem::path& path, const std::string& head, const std::uint8_t* data,
               std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, head.data(), head.size()) && WriteAll(fd, data, size);
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(path.c_str());  // the partial file is ours
    return ok;
}

}  // namespace

PageFileWriter::PageFileWriter() : thread_([this] { run(); }) {}

PageFileWriter::~PageFileWriter() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool PageFileWriter::add(const std::filesystem::path& path, const GreyView& page) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock,
                  [this] { return !spare_.empty() || buffers_ < kBuffers || !error_.empty(); });
    if (!error_.empty())
        return false;
    Job job;
    job.path = path;
    job.width = page.width;
    job.height = page.height;
    if (!spare_.empty()) {
        job.pixels = std::move(spare_.back());
        spare_.pop_back();
    } else {
        ++buffers_;
    }
    lock.unlock();
    // Copied outside the lock: the writing thread carries on meanwhile.
    const auto width = static_cast<std::size_t>(page.width);
    const std::size_t bytes = width * static_cast<std::size_t>(page.height);
    if (job.pixels.size() != bytes)
        job.pixels = PageMemory(bytes);
    if (job.pixels.empty()) {
        lock.lock();
        error_ = "out of memory for " + path.string();
        changed_.notify_all();
        return false;
    }
    for (int y = 0; y < page.height; ++y)
        std::memcpy(job.pixels.data() + width * static_cast<std::size_t>(y), page.row(y), width);
    lock.lock();
    queue_.push_back(std::move(job));
    changed_.notify_all();
    return true;
}

bool PageFileWriter::finish(std::string& error) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
    if (error_.empty())
        return true;
    error = error_;
    return false;
}

void PageFileWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
        if (queue_.empty())
            return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        const bool failed = !error_.empty();
        busy_ = true;
        lock.unlock();
        const bool ok = failed || write(job);
        lock.lock();
        busy_ = false;
        if (!ok && error_.empty())
            error_ = job.path.string() + ": cannot be written";
        spare_.push_back(std::move(job.pixels));
        changed_.notify_all();
    }
}

bool PageFileWriter::write(const Job& job) {
    const GreyView page{job.pixels.data(), job.width, job.height, job.width};
    if (PackBlackAndWhite(page, bits_))
        return writeFile(job.path, header("P4", job.width, job.height, false), bits_.bits.data(),
                         bits_.bits.size());
    return writeFile(job.path, header("P5", job.width, job.height, true), job.pixels.data(),
                     static_cast<std::size_t>(job.width) * static_cast<std::size_t>(job.height));
}

}  // namespace miravo::print
