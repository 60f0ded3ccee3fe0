#include "printmon/ImagePages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "app/FileBytes.h"
#include "convert/ImageLibrary.h"
#include "convert/PagePlacement.h"
#include "printmon/Cancellation.h"
#include "printmon/PageFileWriter.h"
#include "printmon/RenderLimits.h"

namespace miravo::print {

namespace fs = std::filesystem;

namespace {

// A one-bit image as grey, each bit its value's grey level.
void greyOfBits(const DecodedPage& bits, GreyImage& grey) {
    grey = GreyImage(bits.width, bits.height);
    for (int y = 0; y < bits.height; ++y) {
        const std::uint8_t* src = bits.row(y);
        std::uint8_t* dst = grey.row(y);
        for (int x = 0; x < bits.width; ++x)
            dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1 ? bits.oneGrey : bits.zeroGrey;
    }
}

}  // namespace

ImagePagesOutcome WriteImagePages(const fs::path& input, const std::string& base, int first,
                                  std::optional<ConversionMethod> method) {
    ImagePagesOutcome outcome;
    std::string noLibrary;
    if (!PrepareImageLibrary(&noLibrary)) {
        outcome.error = "images cannot be read: " + noLibrary;
        outcome.problem = DocumentProblem::ImageUnreadable;
        return outcome;
    }
    struct stat info {};
    const int fd = OpenRegularFile(input, info);
    if (fd < 0) {
        outcome.error = input.string() + ": cannot be read";
        outcome.problem = DocumentProblem::Unreadable;
        return outcome;
    }
    std::vector<fs::path> written;
    std::string problem;
    DocumentProblem kind = DocumentProblem::None;
    {
        PageFileWriter writer(method);
        GreyImage grey, canvas, turned;
        const FramesRead read = DecodeImageFrames(
            fd, info.st_size, [&](const DecodedPage& page, double xDpi, double yDpi) {
                if (StopRequested()) {
                    problem = "the job was cancelled";
                    kind = DocumentProblem::Cancelled;
                    return false;
                }
                if (static_cast<int>(written.size()) >= kMaxPages) {
                    problem =
                        input.string() + ": more than " + std::to_string(kMaxPages) + " pages";
                    kind = DocumentProblem::TooManyPages;
                    return false;
                }
                if (writer.bytesWritten() > kMaxPageFileBytes) {
                    problem = input.string() + ": its pages take more than 1 GiB";
                    kind = DocumentProblem::TooLarge;
                    return false;
                }
                if (page.bilevel)
                    greyOfBits(page, grey);
                DrawPlacedImage(page.bilevel ? grey.view() : page.grey(), Resolution{xDpi, yDpi},
                                canvas, turned);
                const fs::path target =
                    base + "_" + std::to_string(first + static_cast<int>(written.size()));
                std::error_code ec;
                if (fs::exists(target, ec)) {  // never another's file, to remove later
                    problem = target.string() + ": exists already";
                    kind = DocumentProblem::NotWritten;
                    return false;
                }
                written.push_back(target);
                return writer.add(target, canvas.view());
            });
        ::close(fd);
        std::string writeError;
        const bool wrote = writer.finish(writeError);
        if (read.readError) {
            // Not the image's fault: the file could not be read through.
            const std::string why = FileReadProblem(input);
            problem = input.string() + ": cannot be read: " +
                      (why.empty() ? std::string("a read of the file failed") : why);
            kind = DocumentProblem::Unreadable;
        } else if (!read.image) {
            problem = input.string() + ": the image cannot be decoded";
            kind = DocumentProblem::ImageUnreadable;
        } else if (read.failedFrame > 0) {
            problem = input.string() + ": page " + std::to_string(read.failedFrame) +
                      " cannot be decoded; nothing was converted";
            kind = DocumentProblem::ImageUnreadable;
        } else if (!wrote) {
            problem = writeError;
            kind = DocumentProblem::NotWritten;
        } else if (problem.empty() && written.empty()) {
            problem = input.string() + ": the image holds no page";
            kind = DocumentProblem::NoPage;
        } else if (problem.empty() && static_cast<int>(written.size()) != read.delivered) {
            problem = input.string() + ": a page could not be written";
            kind = DocumentProblem::NotWritten;
        }
        outcome.failedPage = read.failedFrame;
    }
    if (!problem.empty()) {
        std::error_code ec;
        for (const fs::path& file : written)
            fs::remove(file, ec);
        outcome.error = problem;
        outcome.problem = kind == DocumentProblem::None ? DocumentProblem::NotWritten : kind;
        return outcome;
    }
    outcome.ok = true;
    outcome.pages = static_cast<int>(written.size());
    return outcome;
}

}  // namespace miravo::print
