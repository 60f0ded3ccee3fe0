// document_bench [--record] [BIN_FOLDER] [RUNS]
// document_bench --make FOLDER   (only writes the documents there)
//
// Times a document on its way to the fax document along the user's path:
// miravo-print --no-launch (which renders it in its box), then
// miravo-send --convert-only on the job it printed, against Ghostscript's
// fax device writing the fax TIFF itself:
//   gs -dSAFER -sDEVICE=tiffg32d -r204x196 -g1728x2292 -dFIXEDMEDIA -dPDFFitPage
// Each run times both back to back, wall and processor time (the children's
// own, their renderers and threads included), and the best of RUNS (default
// 5) of each is printed with the ratios. Documents: one page of text, three
// mixed pages, fifty pages of text, fifty of photographs, 120 mixed pages,
// all made here with Ghostscript's PDF writer.
//
// Our fax document is checked page by page (a checksum of each page's
// pixels) against reference.txt beside this file; --record writes that
// file instead. The reference holds what a build of the main line made with
// Ghostscript 10.00 and Debian 12's fonts; elsewhere, record it first with
// the main line's programs (document_bench --record MAIN_BIN_FOLDER 1),
// then check a change against it. BIN_FOLDER defaults to this program's
// own folder.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Timing {
    double wall = 1e30;
    double cpu = 1e30;
};

struct Child {
    bool ok = false;
    double wall = 0;
    double cpu = 0;
    std::string out;
};

// Runs a program, its standard output caught, and times it.
Child run(const std::vector<std::string>& command) {
    Child child;
    int channel[2];
    if (::pipe(channel) != 0)
        return child;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(channel[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDERR_FILENO);
        ::close(channel[0]);
        ::close(channel[1]);
        std::vector<char*> arguments;
        for (const std::string& a : command)
            arguments.push_back(const_cast<char*>(a.c_str()));
        arguments.push_back(nullptr);
        ::execvp(arguments[0], arguments.data());
        ::_exit(127);
    }
    ::close(channel[1]);
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        child.out.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    child.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    child.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                usage.ru_stime.tv_usec / 1e6;
    child.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return child;
}

// --- the documents --------------------------------------------------------

const char* kPrologue =
    "%!PS\n<< /PageSize [612 792] >> setpagedevice\n"
    "/line { 72 exch moveto show } def\n";

// A page of text: a heading, 52 lines of 10-point text, a rule.
std::string textPage(int n, int lines = 52) {
    std::ostringstream ps;
    ps << "/Helvetica-Bold findfont 16 scalefont setfont 0 setgray\n"
       << "72 740 moveto (Chapter " << n << ": the conversion of printed pages) show\n"
       << "72 730 468 1 rectfill /Times-Roman findfont 10 scalefont setfont\n";
    for (int k = 0; k < lines; ++k)
        ps << "(" << (n * 7 + k) % 13
           << " The fax page holds 1728 by 2292 dots; every printed page is drawn at that size,"
              " turned, placed and made black and white.) "
           << 712 - 12 * k << " line\n";
    return ps.str();
}

// A photograph: smooth shapes in colour with some grain, W x H samples,
// drawn into the rectangle (x, y, w, h) in points.
std::string photo(int n, int width, int height, int x, int y, int w, int h) {
    std::ostringstream ps;
    ps << "gsave " << x << " " << y << " translate " << w << " " << h << " scale " << width << " "
       << height << " 8 [" << width << " 0 0 -" << height << " 0 " << height
       << "] currentfile /ASCIIHexDecode filter false 3 colorimage\n";
    std::uint32_t noise = 2463534242u + static_cast<std::uint32_t>(n) * 7919u;
    static const char* hex = "0123456789abcdef";
    std::string row;
    for (int j = 0; j < height; ++j) {
        row.clear();
        for (int i = 0; i < width; ++i) {
            const double u = double(i) / width, v = double(j) / height;
            const double sky = 0.5 + 0.5 * std::sin(3.1 * v + n * 0.7);
            const double hill = 0.5 + 0.5 * std::cos(9.0 * u + 4.0 * v * v + n);
            const double dx = u - 0.3 - 0.02 * (n % 10), dy = v - 0.6;
            const double sun = std::exp(-(dx * dx + dy * dy) * 30);
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const double grain = (static_cast<int>(noise % 25) - 12) / 255.0;
            const double rgb[3] = {0.8 * sky * (1 - v) + 0.6 * sun + 0.3 * hill * v,
                                   0.5 * hill + 0.3 * sky * (1 - v) + 0.2 * sun,
                                   0.9 * sky * (1 - v) + 0.2 * hill * v};
            for (double c : rgb) {
                const int value = std::clamp(static_cast<int>((c + grain) * 255), 0, 255);
                row.push_back(hex[value >> 4]);
                row.push_back(hex[value & 15]);
            }
        }
        ps << row << "\n";
    }
    ps << ">\ngrestore\n";
    return ps.str();
}

// A chart of four coloured bars and two coloured rules.
std::string chart(int n) {
    std::ostringstream ps;
    ps << "1 0 0 setrgbcolor 72 100 468 2 rectfill 0 0 1 setrgbcolor 72 90 468 1 rectfill\n";
    for (int b = 0; b < 4; ++b)
        ps << b * 0.25 << " 0.8 1 sethsbcolor " << 380 + b * 40 << " 120 30 " << 20 + (n + b) % 5 * 25
           << " rectfill\n";
    return ps.str() + "0 setgray\n";
}

std::string mixedPage(int n) {
    switch (n % 3) {
        case 0:
            return textPage(n) + chart(n);
        case 1:
            return photo(n, 400, 500, 36, 36, 540, 720);
        default:
            return textPage(n, 26) + photo(n, 300, 200, 72, 90, 468, 312);
    }
}

// Writes the pages as PostScript, then as PDF through Ghostscript.
bool makeDocument(const fs::path& pdf, int pages, std::string (*page)(int)) {
    const fs::path ps = fs::path(pdf).replace_extension(".ps");
    {
        std::ofstream out(ps);
        out << kPrologue;
        for (int n = 1; n <= pages; ++n)
            out << page(n) << "showpage\n";
    }
    const Child made = run({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite",
                            "-sOutputFile=" + pdf.string(), ps.string()});
    fs::remove(ps);
    return made.ok;
}

std::string photoPage(int n) {
    return photo(n, 400, 500, 36, 36, 540, 720);
}
std::string plainTextPage(int n) {
    return textPage(n);
}

// --- the check ------------------------------------------------------------

// A checksum (FNV-1a, 64 bits) of each page's pixels, with its size.
std::vector<std::string> pageSums(const fs::path& tiffPath) {
    std::vector<std::string> sums;
    TIFFSetWarningHandler(nullptr);
    TIFF* tiff = TIFFOpen(tiffPath.c_str(), "r");
    if (!tiff)
        return sums;
    do {
        std::uint32_t width = 0, height = 0;
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
        std::vector<unsigned char> row(static_cast<std::size_t>(TIFFScanlineSize(tiff)));
        std::uint64_t hash = 1469598103934665603ull;
        for (std::uint32_t y = 0; y < height; ++y) {
            if (TIFFReadScanline(tiff, row.data(), y, 0) != 1) {
                hash = 0;
                break;
            }
            for (unsigned char c : row)
                hash = (hash ^ c) * 1099511628211ull;
        }
        char text[64];
        std::snprintf(text, sizeof text, "%ux%u:%016llx", width, height,
                      static_cast<unsigned long long>(hash));
        sums.push_back(text);
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    return sums;
}

std::string field(const std::string& text, const std::string& name) {
    const std::size_t at = text.find(name);
    if (at == std::string::npos)
        return {};
    const std::size_t end = text.find('\n', at);
    return text.substr(at + name.size(), end - at - name.size());
}

}  // namespace

int main(int argc, char** argv) {
    bool record = false;
    std::vector<std::string> rest;
    fs::path makeOnly;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--make" && i + 1 < argc)
            makeOnly = argv[++i];
        else if (std::string(argv[i]) == "--record")
            record = true;
        else
            rest.push_back(argv[i]);
    }
    std::error_code ec;
    const fs::path bin = rest.size() > 0 ? fs::absolute(rest[0])
                                         : fs::read_symlink("/proc/self/exe", ec).parent_path();
    const int runs = rest.size() > 1 ? std::max(1, std::atoi(rest[1].c_str())) : 5;

    char folderName[] = "/tmp/miravodocbenchXXXXXX";
    if (!::mkdtemp(folderName))
        return 1;
    const fs::path work = folderName;
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"})
        ::setenv(variable, (work / "home" / variable).c_str(), 1);
    fs::create_directories(work / "home");
    ::unsetenv("XDG_RUNTIME_DIR");
    const fs::path spool = work / "spool";

    struct Document {
        std::string name;
        int pages;
        std::string (*page)(int);
    };
    const std::vector<Document> documents = {{"text-1", 1, plainTextPage},
                                             {"mixed-3", 3, mixedPage},
                                             {"text-50", 50, plainTextPage},
                                             {"photos-50", 50, photoPage},
                                             {"mixed-120", 120, mixedPage}};
    if (!makeOnly.empty()) {
        fs::remove_all(work, ec);
        for (const Document& document : documents)
            if (!makeDocument(makeOnly / (document.name + ".pdf"), document.pages, document.page))
                return 1;
        return 0;
    }
    std::map<std::string, std::vector<std::string>> reference;
    {
        std::ifstream in(MIRAVO_DOCUMENT_REFERENCE);
        std::string name, sum;
        while (in >> name >> sum)
            reference[name].push_back(sum);
    }
    std::ofstream recording;
    if (record)
        recording.open(MIRAVO_DOCUMENT_REFERENCE);

    std::printf("load before the run: %.2f (1-minute average) on %ld cores; best of %d runs\n",
                [] { double l[1] = {0}; return ::getloadavg(l, 1) == 1 ? l[0] : -1; }(),
                ::sysconf(_SC_NPROCESSORS_ONLN), runs);
    std::printf("%-10s %6s | %8s %8s | %8s %8s | %6s %6s | %s\n", "document", "pages", "ours s",
                "cpu s", "gs s", "cpu s", "wall", "cpu", "pixels");
    bool allSame = true;
    for (const Document& document : documents) {
        const fs::path pdf = work / (document.name + ".pdf");
        if (!makeDocument(pdf, document.pages, document.page)) {
            std::fprintf(stderr, "document_bench: %s cannot be made\n", document.name.c_str());
            return 1;
        }
        Timing ours, theirs;
        std::vector<std::string> sums;
        bool failed = false;
        for (int r = 0; r < runs && !failed; ++r) {
            const Child printed = run({(bin / "miravo-print").string(), "--no-launch", "--out",
                                       spool.string(), pdf.string()});
            std::string job = printed.out;
            while (!job.empty() && job.back() == '\n')
                job.pop_back();
            const Child converted =
                printed.ok ? run({(bin / "miravo-send").string(), "--convert-only", job})
                           : Child{};
            if (!converted.ok) {
                std::fprintf(stderr, "document_bench: %s: our path failed\n",
                             document.name.c_str());
                failed = true;
                break;
            }
            ours.wall = std::min(ours.wall, printed.wall + converted.wall);
            ours.cpu = std::min(ours.cpu, printed.cpu + converted.cpu);
            const fs::path result = field(converted.out, "document: ");
            if (r == 0)
                sums = pageSums(result);
            fs::remove_all(result.parent_path(), ec);

            const fs::path gsResult = work / "gs.tif";
            const Child gs = run({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                  "-sDEVICE=tiffg32d", "-r204x196", "-g1728x2292", "-dFIXEDMEDIA",
                                  "-dPDFFitPage", "-sOutputFile=" + gsResult.string(),
                                  pdf.string()});
            if (!gs.ok) {
                std::fprintf(stderr, "document_bench: %s: Ghostscript failed\n",
                             document.name.c_str());
                failed = true;
                break;
            }
            theirs.wall = std::min(theirs.wall, gs.wall);
            theirs.cpu = std::min(theirs.cpu, gs.cpu);
        }
        if (failed) {
            allSame = false;
            continue;
        }
        std::string check;
        if (record) {
            for (const std::string& sum : sums)
                recording << document.name << " " << sum << "\n";
            check = "recorded";
        } else if (reference.count(document.name) == 0) {
            check = "no reference";
        } else {
            const std::vector<std::string>& want = reference[document.name];
            std::size_t differ = want.size() == sums.size() ? 0 : std::max(want.size(), sums.size());
            for (std::size_t i = 0; i < std::min(want.size(), sums.size()); ++i)
                differ += want[i] != sums[i];
            check = differ == 0 ? "same" : std::to_string(differ) + " pages differ";
            allSame = allSame && differ == 0;
        }
        std::printf("%-10s %6zu | %8.3f %8.3f | %8.3f %8.3f | %5.2fx %5.2fx | %s\n",
                    document.name.c_str(), sums.size(), ours.wall, ours.cpu, theirs.wall,
                    theirs.cpu, ours.wall / theirs.wall, ours.cpu / theirs.cpu, check.c_str());
        std::fflush(stdout);
        fs::remove(pdf, ec);
    }
    fs::remove_all(work, ec);
    return allSame ? 0 : 1;
}
