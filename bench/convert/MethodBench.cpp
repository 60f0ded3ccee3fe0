// method_bench [RUNS]: the automatic conversion method against the
// threshold (and dithering) on three fax pages: text as Ghostscript draws
// it with soft edges, a photograph, and the two halves together. Prints
// the time per page of each method (fastest of RUNS, default 20) with its
// ratio to the threshold, and how near each comes to the photograph's
// grey through a 5 x 5 blur (mean absolute difference in grey levels),
// beside Ghostscript's own fax halftone of the same page.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "convert/AutomaticMethod.h"
#include "convert/FaxTiff.h"
#include "convert/PageConverter.h"
#include "tests/convert/ToneMeasure.h"

namespace fs = std::filesystem;
using namespace miravo;

namespace {

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

void write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

GreyImage textPage(const fs::path& work) {
    std::string ps = "%!PS\n";
    int y = 800;
    for (int block = 0; block < 6; ++block)
        for (int size : {7, 9, 10, 12, 18}) {
            ps += "/Helvetica findfont " + std::to_string(size) + " scalefont setfont 30 " +
                  std::to_string(y) + " moveto (Quarterly report: the quick brown fox jumps " +
                  "over the lazy dog 0123456789) show\n";
            y -= size + 4;
        }
    ps += "showpage\n";
    write(work / "text.ps", ps);
    if (!run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r204x196 -g1728x2292 "
             "-dFIXEDMEDIA -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sOutputFile=" +
             (work / "text.pgm").string() + " " + (work / "text.ps").string()))
        return GreyImage(kFaxWidth, kFaxHeight);
    return DecodePageFile(work / "text.pgm").value_or(GreyImage(kFaxWidth, kFaxHeight));
}

// Ghostscript's tiffg32d output of the grey page, or an empty page.
BitPage halftone(const fs::path& work, const GreyImage& page) {
    std::string ps =
        "%!PS\n609.882 841.959 scale\n1728 2292 8 [1728 0 0 -2292 0 2292] "
        "currentfile image\n";
    ps.append(reinterpret_cast<const char*>(page.pixels.data()), page.pixels.size());
    ps += "\nshowpage\n";
    write(work / "page.ps", ps);
    BitPage bits;
    const fs::path out = work / "gs.tif";
    if (!run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiffg32d -r204x196 -g1728x2292 "
             "-dFIXEDMEDIA -sOutputFile=" +
             out.string() + " " + (work / "page.ps").string()))
        return bits;
    // Decoded back through the conversion's own page reading.
    if (std::optional<GreyImage> grey = DecodePageFile(out))
        Threshold(grey->view(), bits);
    return bits;
}

double millisecondsPerPage(const std::function<void()>& convert, int runs) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        convert();
        best = std::min(best, std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    char folder[] = "/tmp/miravomethodXXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    const fs::path work(folder);

    const GreyImage text = textPage(work);
    const GreyImage photo = test::Photograph(kFaxWidth, kFaxHeight);
    GreyImage mixed = text;
    for (int y = kFaxHeight / 2; y < kFaxHeight; ++y)
        std::copy(photo.pixels.begin() + std::ptrdiff_t(y) * kFaxWidth,
                  photo.pixels.begin() + std::ptrdiff_t(y + 1) * kFaxWidth, mixed.row(y));

    std::printf("time per page (ms), fastest of %d, and ratio to the threshold\n", runs);
    std::printf("%-12s %10s %10s %8s %10s %8s\n", "page", "threshold", "automatic", "ratio",
                "dithering", "ratio");
    BitPage bits;
    for (const auto& [name, page] : {std::pair<const char*, const GreyImage*>{"text", &text},
                                     {"photograph", &photo},
                                     {"mixed", &mixed}}) {
        const GreyView view = page->view();
        const double t = millisecondsPerPage([&] { Threshold(view, bits); }, runs);
        const double a = millisecondsPerPage([&] { AutomaticConvert(view, bits); }, runs);
        const double d = millisecondsPerPage([&] { Dither(view, bits); }, runs);
        std::printf("%-12s %10.2f %10.2f %8.2f %10.2f %8.2f\n", name, t, a, a / t, d, d / t);
    }

    BitPage threshold, automatic;
    Threshold(photo.view(), threshold);
    AutomaticConvert(photo.view(), automatic);
    const BitPage gs = halftone(work, photo);
    std::printf("\nphotograph through a 5 x 5 blur, mean absolute difference (grey levels)\n");
    std::printf("threshold %.2f  automatic %.2f  ghostscript-halftone ",
                test::BlurredDifference(photo, threshold),
                test::BlurredDifference(photo, automatic));
    if (gs.width == kFaxWidth)
        std::printf("%.2f\n", test::BlurredDifference(photo, gs));
    else
        std::printf("(gs not run)\n");
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
