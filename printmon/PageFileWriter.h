// Writes rendered pages as page files on a thread of its own while the next
// page is being drawn. A page of pure black and white is written with one
// bit per pixel: of the fax page's size, as the fax page itself (a one-page
// Group 3 2-D fax TIFF, coded here, whose codes the conversion takes as
// they are), else as PBM. Any other page is written in 8-bit grey as a
// compressed TIFF (horizontal differencing, Zstandard at its fastest). All
// hold exactly the rendered pixels. A grey page of flat areas and text
// takes tens of kilobytes instead of the 3.96 MB of plain grey.
//
// When the conversion method is known as the pages are rendered, a grey
// page of the fax page's size is made black and white here, by that
// method, and written with one bit per pixel, unless it is mostly flat grey
// areas (KeepsItsGrey): the conversion takes such a page as it is, so the
// fax page is the same bit for bit, and the page is converted while the
// next one is drawn instead of being compressed here and decompressed and
// converted again by the conversion, which costs more than the bits take
// to write (484 KiB; the grey of text with a little colour or a photograph
// takes a fifth of that to all of it). A page of flat grey areas stays
// grey: its grey takes tens of kilobytes, its dithered bits would take ten
// times more, since they hardly compress (50 such pages stay under 4 MB).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AppSettings.h"
#include "convert/PageImage.h"
#include "convert/PageMemory.h"

namespace miravo::print {

// True when at least a sixteenth of the page's pixels (sampled) are
// mid-grey and fewer than one in 32 differ from their left neighbour:
// flat grey areas, whose grey compresses far better than their dithered
// bits. A photograph, even one on a tenth of the page, is no such page,
// nor is text with a few grey or coloured marks.
bool KeepsItsGrey(const GreyView& page);

class PageFileWriter {
  public:
    explicit PageFileWriter(std::optional<ConversionMethod> method = std::nullopt);
    ~PageFileWriter();  // waits for the pages queued so far
    PageFileWriter(const PageFileWriter&) = delete;
    PageFileWriter& operator=(const PageFileWriter&) = delete;

    // Queues `page` for `path`, which must not exist yet (it is created for
    // this user alone): packed when it is pure black and white, else a copy
    // of its grey. Waits while three pages are in hand, so memory stays
    // bounded however long the document. False once a write has failed.
    bool add(const std::filesystem::path& path, const GreyView& page);
    // Waits until every queued page is written. False with a message when
    // any could not be; the files written stay for the caller to remove.
    bool finish(std::string& error);
    // Bytes of the page files written so far.
    std::uint64_t bytesWritten();

  private:
    // A page's memory, kept for the next page once it is written.
    struct Buffers {
        BitPage bits;     // the page packed, when it is pure black and white
        PageMemory grey;  // a copy of its grey otherwise
    };
    struct Job {
        std::filesystem::path path;
        int width = 0;
        int height = 0;
        bool packed = false;
        Buffers buffers;
    };
    void run();
    bool write(const Job& job, std::uint64_t& bytes);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::vector<Buffers> spare_;  // page buffers to reuse
    std::size_t buffers_ = 0;     // page buffers made
    bool busy_ = false;
    bool closing_ = false;
    std::string error_;
    std::uint64_t bytes_ = 0;
    const std::optional<ConversionMethod> method_;
    BitPage bits_;  // a method's result, made by the writing thread only
    std::thread thread_;
};

}  // namespace miravo::print
