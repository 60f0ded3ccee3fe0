// The fax document written while its pages are still being converted: the
// workers hand in the coded pages in any order, and each page is written as
// soon as every page before it is. A worker that runs too far ahead waits,
// so only a few coded pages are held, however long the document.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "convert/FaxTiff.h"

namespace miravo {

class OrderedFaxDocument {
  public:
    // `total` pages will come; at most `ahead` of them wait to be written.
    // A set `cancel` flag wakes the workers that wait.
    OrderedFaxDocument(std::int64_t total, std::size_t ahead,
                       const std::atomic<bool>* cancel = nullptr);

    // Creates the file. False with the system's reason in error().
    bool open(const std::filesystem::path& path);
    enum class Put {
        Taken,    // written, or held until the pages before it are
        Refused,  // the document was given up or cancelled meanwhile
        Failed,   // a write failed: error() tells why
    };
    // Hands in page `index` (from 0), `width` x `height`, as coded by
    // EncodeFaxPage; waits while it is too far ahead.
    Put put(std::int64_t index, std::vector<std::uint8_t> codes, int width, int height);
    // Wakes and refuses every worker waiting in put(): no more pages come.
    void giveUp();
    // Finishes the file: true when every page was written. The file is
    // removed when not.
    bool close();
    // Why a write failed: the system's words.
    std::string error() const;

  private:
    struct Coded {
        std::vector<std::uint8_t> codes;
        int width = 0;
        int height = 0;
    };
    mutable std::mutex mutex_;
    std::condition_variable moved_;
    std::map<std::int64_t, Coded> waiting_;
    FaxTiffWriter writer_;
    std::filesystem::path path_;
    const std::int64_t total_;
    const std::size_t ahead_;
    const std::atomic<bool>* cancel_;
    std::int64_t written_ = 0;
    bool stopped_ = false;
    std::string error_;
};

}  // namespace miravo
