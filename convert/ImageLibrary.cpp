#include "convert/ImageLibrary.h"

#include <dlfcn.h>

#include <algorithm>
#include <mutex>

#include "convert/ImageLibraryEntry.h"

namespace miravo {

namespace {

struct Module {
    decltype(&miravo_images_prepare) prepare = nullptr;
    decltype(&miravo_images_decode) decode = nullptr;
    decltype(&miravo_images_decode_frames) frames = nullptr;
    std::string problem;  // why it could not be loaded
};

// Beside the program (the build tree), or in the private library folder
// of an installed program.
void* openModule(std::string& problem) {
    std::error_code ec;
    const std::filesystem::path programFolder =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (const std::filesystem::path& candidate :
         {programFolder / "miravo-images.so", programFolder / "../lib/miravo/miravo-images.so"}) {
        if (!std::filesystem::exists(candidate, ec))
            continue;
        if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
        problem = ::dlerror();
        return nullptr;
    }
    problem = "miravo-images.so is neither beside the program nor in ../lib/miravo";
    return nullptr;
}

const Module& module() {
    static Module loaded;
    static std::once_flag once;
    std::call_once(once, [] {
        void* handle = openModule(loaded.problem);
        if (!handle)
            return;
        auto version = reinterpret_cast<decltype(&miravo_images_version)>(
            ::dlsym(handle, "miravo_images_version"));
        if (!version || version() != kImageModuleVersion) {
            loaded.problem = "miravo-images.so belongs to another version of the program";
            return;
        }
        loaded.prepare =
            reinterpret_cast<decltype(loaded.prepare)>(::dlsym(handle, "miravo_images_prepare"));
        loaded.decode =
            reinterpret_cast<decltype(loaded.decode)>(::dlsym(handle, "miravo_images_decode"));
        loaded.frames = reinterpret_cast<decltype(loaded.frames)>(
            ::dlsym(handle, "miravo_images_decode_frames"));
        if (!loaded.prepare || !loaded.decode || !loaded.frames) {
            loaded = Module{};
            loaded.problem = "miravo-images.so lacks an entry point";
        }
        // The module stays loaded for the life of the process.
    });
    return loaded;
}

}  // namespace

bool PrepareImageLibrary(std::string* reason) {
    const Module& m = module();
    if (!m.prepare) {
        if (reason)
            *reason = m.problem;
        return false;
    }
    static const bool ready = m.prepare();
    return ready;
}

ImageDecoded DecodeImageFile(int fd, std::int64_t size, DecodedPage& page) {
    ImageDecoded result;
    if (!PrepareImageLibrary())
        return result;
    const int decoded = module().decode(fd, size, &page, &result.xDpi, &result.yDpi);
    result.decoded = decoded == 1;
    result.readError = decoded == MIRAVO_IMAGES_READ_ERROR;
    return result;
}

FramesRead DecodeImageFrames(int fd, std::int64_t size, const FrameSink& sink) {
    FramesRead result;
    if (!PrepareImageLibrary())
        return result;
    auto call = [](void* context, const DecodedPage* page, double xDpi, double yDpi) {
        return (*static_cast<const FrameSink*>(context))(*page, xDpi, yDpi);
    };
    const int delivered =
        module().frames(fd, size, call, const_cast<FrameSink*>(&sink), &result.failedFrame);
    result.readError = delivered == MIRAVO_IMAGES_READ_ERROR;
    result.image = delivered >= 0;
    result.delivered = std::max(delivered, 0);
    return result;
}

}  // namespace miravo
