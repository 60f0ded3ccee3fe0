// render_bench DOCUMENT [RUNS]: renders DOCUMENT into page files RUNS times
// (default 9) in a fresh child process each time, alternately unconfined
// and inside the renderer's box (Sandbox.h) as miravo-render enters it,
// and prints the best time of each and their ratio. Each time runs from
// the child's start to its end, so the box's set-up counts too.
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
int render(const fs::path& document, const fs::path& folder, bool boxed) {
    const std::string base = (folder / "job_1").string();
    if (boxed) {
        const RenderLimits limits = CurrentRenderLimits();
        SandboxPlan plan{document, folder, limits.maxBytes, limits.maxMemory,
                         2 * limits.maxSeconds};
        std::string error;
        if (!EnterSandbox(plan, error)) {
            std::fprintf(stderr, "render_bench: %s\n", error.c_str());
            return 1;
        }
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
double timedChild(const fs::path& document, const fs::path& root, bool boxed) {
    const miravo::PrivateFolder folder(root, "run");
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(render(document, folder.path(), boxed));
    int status = 0;
    ::waitpid(child, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    for (int run = 0; run < runs; ++run) {
        const double a = timedChild(document, root.path(), false);
        const double b = timedChild(document, root.path(), true);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "render_bench: %s cannot be rendered\n", argv[1]);
            return 1;
        }
        plain = std::min(plain, a);
        boxed = std::min(boxed, b);
    }
    std::printf("unconfined %.4f s  confined %.4f s  ratio %.3f  (Landlock %s, best of %d)\n",
                plain, boxed, boxed / plain,
                LandlockAbi() > 0 ? ("version " + std::to_string(LandlockAbi())).c_str() : "absent",
                runs);
    return 0;
}
