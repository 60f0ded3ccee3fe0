#include "printmon/PageFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/FileBytes.h"
#include "convert/FaxTiff.h"
#include "convert/MethodConversion.h"

namespace miravo::print {

namespace {

// Page buffers in use at most: one being written, two waiting.
constexpr std::size_t kBuffers = 3;

std::string header(const char* magic, int width, int height) {
    return std::string(magic) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
}

// Rows per strip of a grey page file: small enough to decode in the
// cache, large enough for the compression to find its runs.
constexpr std::uint32_t kRowsPerStrip = 64;

int createFile(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

// Writes `head` then `size` bytes of pixels into a new file of this user's.
bool writeFile(const std::filesystem::path& path, const std::string& head, const std::uint8_t* data,
               std::size_t size, std::uint64_t& bytes) {
    const int fd = createFile(path);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, head.data(), head.size()) && WriteAll(fd, data, size);
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(path.c_str());  // the partial file is ours
    bytes = head.size() + size;
    return ok;
}

// Writes a black and white fax page as the fax document will hold it: a
// one-page fax TIFF, Group 3 2-D coded. The conversion copies its codes as
// they are, and the coding is done here, beside the drawing of the next
// page (or the end of the document) rather than after it.
bool writeFaxPage(const std::filesystem::path& path, const BitView& page, std::uint64_t& bytes) {
    const int fd = createFile(path);
    if (fd < 0)
        return false;
    FaxTiffWriter writer;  // removes a file it did not finish
    if (!writer.open(fd, path)) {
        ::unlink(path.c_str());
        return false;
    }
    if (!writer.addPage(page, 1) || !writer.close())
        return false;
    struct stat info {};
    bytes = ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

// Writes a grey page as a one-page, 8-bit TIFF, Zstandard-compressed at its
// fastest level (Deflate where this libtiff has no Zstandard). Measured on
// 120 mixed pages, against Deflate at its fastest: a third less processor
// time for the renderer and 15% smaller files; the 50 flat grey pages of
// the print test take 0.6 MB instead of 1.8 MB.
bool writeGreyTiff(const std::filesystem::path& path, const GreyView& page, std::uint64_t& bytes) {
    const int fd = createFile(path);
    if (fd < 0)
        return false;
    TIFF* tiff = TIFFFdOpen(fd, path.c_str(), "w");
    if (!tiff) {
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(page.width)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(page.height)) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              (TIFFIsCODECConfigured(COMPRESSION_ZSTD)
                   ? TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ZSTD) &&
                         TIFFSetField(tiff, TIFFTAG_ZSTD_LEVEL, 1)
                   : TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
                         TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 1)) &&
              TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    // libtiff's differencing works on the row it is given: a copy of it.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(page.width));
    for (int y = 0; ok && y < page.height; ++y) {
        std::memcpy(row.data(), page.row(y), row.size());
        ok = TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
    }
    ok = ok && TIFFFlush(tiff) == 1;
    struct stat info {};
    bytes = ok && ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    TIFFClose(tiff);  // closes fd
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}

}  // namespace

bool KeepsItsGrey(const GreyView& page) {
    // Counted on every fourth row: the page's character, not its detail.
    std::uint64_t middle = 0;
    std::uint64_t busy = 0;
    std::uint64_t seen = 0;
    for (int y = 0; y < page.height; y += 4) {
        const std::uint8_t* row = page.row(y);
        middle += row[0] > 16 && row[0] < 240;
        int x = 1;
#if defined(__SSE2__)
        // 16 pixels at a time, each byte lane counting (a match is -1) for
        // at most 255 steps before the lanes are summed.
        const __m128i low = _mm_set1_epi8(17);
        const __m128i span = _mm_set1_epi8(239 - 17);
        while (x + 16 <= page.width) {
            __m128i middleLanes = _mm_setzero_si128();
            __m128i busyLanes = _mm_setzero_si128();
            for (int steps = 0; steps < 255 && x + 16 <= page.width; ++steps, x += 16) {
                const __m128i level = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
                const __m128i before =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x - 1));
                const __m128i shifted = _mm_sub_epi8(level, low);
                const __m128i mid = _mm_cmpeq_epi8(_mm_min_epu8(shifted, span), shifted);
                middleLanes = _mm_sub_epi8(middleLanes, mid);
                busyLanes =
                    _mm_sub_epi8(busyLanes, _mm_andnot_si128(_mm_cmpeq_epi8(level, before), mid));
            }
            const __m128i zero = _mm_setzero_si128();
            const __m128i middleSums = _mm_sad_epu8(middleLanes, zero);
            const __m128i busySums = _mm_sad_epu8(busyLanes, zero);
            middle += static_cast<std::uint64_t>(_mm_cvtsi128_si32(middleSums) +
                                                 _mm_extract_epi16(middleSums, 4));
            busy += static_cast<std::uint64_t>(_mm_cvtsi128_si32(busySums) +
                                               _mm_extract_epi16(busySums, 4));
        }
#endif
        for (; x < page.width; ++x) {
            const std::uint8_t level = row[x];
            const bool mid = level > 16 && level < 240;
            middle += mid;
            busy += mid && level != row[x - 1];
        }
        seen += static_cast<std::uint64_t>(page.width);
    }
    return middle * 16 >= seen && busy * 32 < seen;
}

PageFileWriter::PageFileWriter(std::optional<ConversionMethod> method)
    : method_(method), thread_([this] { run(); }) {}

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
        job.buffers = std::move(spare_.back());
        spare_.pop_back();
    } else {
        ++buffers_;
    }
    lock.unlock();
    // Outside the lock: the writing thread carries on meanwhile. A page of
    // pure black and white (most pages of text) is handed over packed, an
    // eighth of its grey to copy; the packing stops at its first grey pixel.
    job.packed = PackBlackAndWhite(page, job.buffers.bits);
    if (!job.packed) {
        const auto width = static_cast<std::size_t>(page.width);
        const std::size_t bytes = width * static_cast<std::size_t>(page.height);
        if (job.buffers.grey.size() != bytes)
            job.buffers.grey = PageMemory(bytes);
        if (job.buffers.grey.empty()) {
            lock.lock();
            error_ = "out of memory for " + path.string();
            changed_.notify_all();
            return false;
        }
        for (int y = 0; y < page.height; ++y)
            std::memcpy(job.buffers.grey.data() + width * static_cast<std::size_t>(y), page.row(y),
                        width);
    }
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
        std::uint64_t bytes = 0;
        const bool ok = failed || write(job, bytes);
        lock.lock();
        bytes_ += bytes;
        busy_ = false;
        if (!ok && error_.empty())
            error_ = job.path.string() + ": cannot be written";
        spare_.push_back(std::move(job.buffers));
        changed_.notify_all();
    }
}

std::uint64_t PageFileWriter::bytesWritten() {
    std::lock_guard lock(mutex_);
    return bytes_;
}

bool PageFileWriter::write(const Job& job, std::uint64_t& bytes) {
    const bool faxPage = job.width == kFaxWidth && job.height == kFaxHeight;
    if (job.packed && faxPage)
        return writeFaxPage(job.path, job.buffers.bits, bytes);
    if (job.packed)
        return writeFile(job.path, header("P4", job.width, job.height),
                         job.buffers.bits.bits.data(), job.buffers.bits.bits.size(), bytes);
    const GreyView page{job.buffers.grey.data(), job.width, job.height, job.width};
    // A page the conversion would neither turn nor place gets its method
    // here, unless its grey is far smaller; the conversion takes a black and
    // white page as it is, which is why such a page was packed before any
    // method is applied.
    if (method_ && faxPage && !KeepsItsGrey(page)) {
        ConvertByMethod(page, *method_, bits_);
        return writeFile(job.path, header("P4", job.width, job.height), bits_.bits.data(),
                         bits_.bits.size(), bytes);
    }
    return writeGreyTiff(job.path, page, bytes);
}

}  // namespace miravo::print
