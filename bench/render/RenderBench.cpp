// render_bench DOCUMENT [RUNS]: renders DOCUMENT into page files RUNS times
// (default 9) in a fresh child process each time, alternately unconfined
// and inside the renderer's box (Sandbox.h) as miravo-render enters it,
// and prints the best time of each and their ratio. Each time runs from
// the child's start to its end, so the box's set-up counts too; that
// set-up alone (limits, Landlock rules, filter) is printed beside.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FileBytes.h"
#include "printmon/GhostscriptRenderer.h"
#include "printmon/PageFileWriter.h"
#include "printmon/RenderLimits.h"
#include "printmon/Sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace miravo::print;

// The child's work: what miravo-render does, with or without the box.
int render(const fs::path& document, const fs::path& folder, bool boxed, int setUpPipe) {
    const std::string base = (folder / "job_1").string();
    if (boxed) {
        const auto start = std::chrono::steady_clock::now();
        const RenderLimits limits = CurrentRenderLimits();
        SandboxPlan plan{document, folder, limits.maxBytes, limits.maxMemory,
                         2 * limits.maxSeconds};
        std::string error;
        if (!EnterSandbox(plan, error)) {
            std::fprintf(stderr, "render_bench: %s\n", error.c_str());
            return 1;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (::write(setUpPipe, &seconds, sizeof seconds) != sizeof seconds)
            return 1;
    }
    PageFileWriter writer;
    int pages = 0;
    std::string error;
    const bool ok = RenderDocument(
        document,
        [&](const miravo::GreyView& page) {
            return writer.add(base + "_" + std::to_string(++pages), page);
        },
        error);
    return ok && writer.finish(error) ? 0 : 1;
}

// Seconds from the child's start to its end; negative when it failed.
// `setUp` gets the box's set-up time when boxed.
double timedChild(const fs::path& document, const fs::path& root, bool boxed, double& setUp) {
    const miravo::PrivateFolder folder(root, "run");
    int channel[2];
    if (::pipe(channel) != 0)
        return -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(render(document, folder.path(), boxed, channel[1]));
    ::close(channel[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (boxed && ::read(channel[0], &setUp, sizeof setUp) != sizeof setUp)
        setUp = -1;
    ::close(channel[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: render_bench DOCUMENT [RUNS]\n", stderr);
        return 2;
    }
    const fs::path document = fs::absolute(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    const miravo::PrivateFolder root(fs::temp_directory_path(), "miravo-render-bench");
    double plain = 1e30;
    double boxed = 1e30;
    double setUp = 1e30;
    for (int run = 0; run < runs; ++run) {
        double boxSetUp = 0;
        const double a = timedChild(document, root.path(), false, boxSetUp);
        const double b = timedChild(document, root.path(), true, boxSetUp);
        if (a < 0 || b < 0 || boxSetUp < 0) {
            std::fprintf(stderr, "render_bench: %s cannot be rendered\n", argv[1]);
            return 1;
        }
        plain = std::min(plain, a);
        boxed = std::min(boxed, b);
        setUp = std::min(setUp, boxSetUp);
    }
    const std::string landlock =
        LandlockAbi() > 0 ? "version " + std::to_string(LandlockAbi()) : "absent";
    std::printf(
        "unconfined %.4f s  confined %.4f s  ratio %.3f  box set-up %.2f ms  (Landlock %s, best of "
        "%d)\n",
        plain, boxed, boxed / plain, setUp * 1000, landlock.c_str(), runs);
    return 0;
}
