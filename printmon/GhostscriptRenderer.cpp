#include "printmon/GhostscriptRenderer.h"

// The library's headers use size_t without including its header.
#include <cstddef>
// clang-format off
#include <ghostscript/iapi.h>
#include <ghostscript/gdevdsp.h>
#include <ghostscript/ierrors.h>
// clang-format on

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <vector>

#include "convert/PageMemory.h"
#include "printmon/PageRanges.h"

namespace miravo::print {

namespace {

// What Ghostscript's callbacks need: the page buffer it draws into, the
// sink and what went wrong.
struct Session {
    const PageSink* sink = nullptr;
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    bool refused = false;
    int pages = 0;
    std::string messages;
    std::vector<PageMemory> pageMemory;  // the pages Ghostscript draws into
};

Session& of(void* handle) {
    return *static_cast<Session*>(handle);
}

int noOp(void*, void*) {
    return 0;
}
int presize(void*, void*, int, int, int, unsigned int) {
    return 0;
}
int size(void* handle, void*, int width, int height, int raster, unsigned int,
         unsigned char* pixels) {
    Session& session = of(handle);
    session.pixels = pixels;
    session.width = width;
    session.height = height;
    session.stride = raster;
    return 0;
}
int page(void* handle, void*, int, int) {
    Session& session = of(handle);
    // Ghostscript carries on after an error here, so a refused page also
    // refuses the rest.
    if (!session.pixels || session.refused ||
        !(*session.sink)(GreyView{session.pixels, session.width, session.height, session.stride})) {
        session.refused = true;
        return gs_error_unknownerror;
    }
    ++session.pages;
    return 0;
}
int update(void*, void*, int, int, int, int) {
    return 0;
}
// The page Ghostscript draws into is page memory, so that drawing the first
// page does not fault in a thousand small pages.
void* allocatePage(void* handle, void*, std::size_t size) {
    PageMemory memory(size);
    if (memory.empty())
        return nullptr;
    void* data = memory.data();
    of(handle).pageMemory.push_back(std::move(memory));
    return data;
}
int freePage(void* handle, void*, void* data) {
    auto& all = of(handle).pageMemory;
    all.erase(std::remove_if(all.begin(), all.end(),
                             [data](const PageMemory& memory) { return memory.data() == data; }),
              all.end());
    return 0;
}

display_callback kCallbacks = {
    sizeof(display_callback),
    DISPLAY_VERSION_MAJOR,
    DISPLAY_VERSION_MINOR,
    noOp,          // open
    noOp,          // preclose
    noOp,          // close
    presize,       // presize
    size,          // size
    noOp,          // sync
    page,          // page
    update,        // update
    allocatePage,  // memalloc
    freePage,      // memfree
    nullptr,       // separation
    nullptr,       // adjust_band_height: the whole page at once
    nullptr,       // rectangle_request
};

int callout(void*, void* handle, const char* device, int id, int, void* data) {
    if (device && std::string_view(device) == "display" && id == DISPLAY_CALLOUT_GET_CALLBACK) {
        auto* answer = static_cast<gs_display_get_callback_t*>(data);
        answer->callback = &kCallbacks;
        answer->caller_handle = handle;
        return 0;
    }
    return gs_error_unknownerror;
}

int keepMessages(void* handle, const char* text, int length) {
    std::string& messages = of(handle).messages;
    if (messages.size() < 4000)
        messages.append(text, static_cast<std::size_t>(length));
    return length;
}
int noInput(void*, char*, int) {
    return 0;
}

std::string firstLines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (text.size() > 400)
        text.resize(400);
    return text;
}

// Whether Ghostscript's words say that a password is missing or wrong
// ("This file requires a password for access.", "Password did not work.").
bool mentionsPassword(const std::string& messages) {
    std::string lower = messages;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("password") != std::string::npos;
}

}  // namespace

bool RenderDocument(const std::filesystem::path& input, const PageSink& sink, std::string& error,
                    const std::string& password, bool* passwordRefused, const std::string& pages,
                    AfterDocument after) {
    // The library keeps global state: one document at a time per process.
    static std::mutex oneAtATime;
    std::lock_guard lock(oneAtATime);

    // File names are bytes here, in whatever encoding they were made, and
    // Ghostscript takes its arguments as UTF-8: it reads the document
    // through the descriptor opened here rather than by its name.
    struct Document {
        int fd;
        ~Document() {
            if (fd >= 0)
                ::close(fd);
        }
    } document{::open(input.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
    if (document.fd < 0) {
        error = input.string() + ": cannot be opened";
        return false;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(document.fd);
    std::string pageList;
    if (!pages.empty()) {
        std::string why;
        const auto list = PageListOf(pages, why);
        if (!list) {
            error = "the pages asked for cannot be printed: " + why;
            return false;
        }
        pageList = "-sPageList=" + *list;
    }

    Session session;
    session.sink = &sink;
    void* instance = nullptr;
    if (gsapi_new_instance(&instance, &session) < 0) {
        error = "Ghostscript cannot be started";
        return false;
    }
    gsapi_set_stdio_with_handle(instance, noInput, keepMessages, keepMessages, &session);
    gsapi_register_callout(instance, callout, &session);
    gsapi_set_arg_encoding(instance, GS_ARG_ENCODING_UTF8);

    // Grey straight from the colours as the document gives them: with fast
    // colour Ghostscript weighs red, green and blue 0.30, 0.59 and 0.11,
    // the classic luma to within one level (pure red 76, green 0,160,0 94).
    // Its colour-managed grey turns them nearly white (127 and 137), so
    // coloured text and lines would vanish at the threshold.
    const std::string format =
        "-dDisplayFormat=" + std::to_string(static_cast<unsigned>(DISPLAY_COLORS_GRAY) |
                                            static_cast<unsigned>(DISPLAY_ALPHA_NONE) |
                                            static_cast<unsigned>(DISPLAY_DEPTH_8) |
                                            static_cast<unsigned>(DISPLAY_LITTLEENDIAN) |
                                            static_cast<unsigned>(DISPLAY_TOPFIRST));
    const std::string resolution = "-r" + std::to_string(kFaxXDpi) + "x" + std::to_string(kFaxYDpi);
    const std::string geometry =
        "-g" + std::to_string(kFaxWidth) + "x" + std::to_string(kFaxHeight);
    // The password goes to the library in this process, never on a
    // command line; the argument is wiped once the library has read it.
    std::string passwordArgument = password.empty() ? std::string() : "-sPDFPassword=" + password;
    // A landscape page is turned a quarter counter-clockwise to fit, as the
    // conversion would turn it; the conversion then has nothing to resample.
    std::vector<const char*> arguments = {"gs",
                                          "-q",
                                          "-dSAFER",
                                          "-dBATCH",
                                          "-dNOPAUSE",
                                          "-sDEVICE=display",
                                          format.c_str(),
                                          resolution.c_str(),
                                          geometry.c_str(),
                                          "-dFIXEDMEDIA",
                                          "-dUseFastColor",
                                          "-dPDFFitPage",
                                          "-dPSFitPage"};
    if (!passwordArgument.empty())
        arguments.push_back(passwordArgument.c_str());
    if (!pageList.empty())
        arguments.push_back(pageList.c_str());
    // Ghostscript's start ends with a full garbage collection of what its
    // own start-up made, then turns collection on: the collection alone
    // takes about 3 ms of the 40 ms start, and frees a few kilobytes. It is
    // left out, and collection is turned on as the start would, before the
    // document runs.
    arguments.push_back("-dNOGC");
    arguments.push_back("-c");
    arguments.push_back("0 vmreclaim");
    arguments.push_back("--");
    arguments.push_back(path.c_str());
    const int code = gsapi_init_with_args(instance, static_cast<int>(arguments.size()),
                                          const_cast<char**>(arguments.data()));
    // With -dBATCH the document has run to its end here; the display
    // device has nothing left to write when it closes.
    int exitCode = 0;
    if (after == AfterDocument::TearDown) {
        exitCode = gsapi_exit(instance);
        gsapi_delete_instance(instance);
    }
    ::explicit_bzero(passwordArgument.data(), passwordArgument.size());

    // A PDF that needs a password gives no page, and Ghostscript says why.
    if (session.pages == 0 && !session.refused && mentionsPassword(session.messages)) {
        if (passwordRefused)
            *passwordRefused = true;
        error = input.string() + (password.empty() ? ": the PDF needs a password"
                                                   : ": the password does not open the PDF");
        return false;
    }

    if (session.refused) {
        error = input.string() + ": a rendered page cannot be written";
        return false;
    }
    if ((code < 0 && code != gs_error_Quit) || exitCode < 0) {
        error = input.string() + ": Ghostscript cannot render it";
        if (std::string detail = firstLines(session.messages); !detail.empty())
            error += ": " + detail;
        return false;
    }
    return true;
}

}  // namespace miravo::print
