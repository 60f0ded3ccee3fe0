#include "server/Options.h"

#include <charconv>
#include <cstdlib>

namespace miravo::server {

namespace {

template <typename T>
bool number(const std::string& text, T& out, T low, T high) {
    T value{};
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < low || value > high)
        return false;
    out = value;
    return true;
}

bool money(const std::string& text, double& out) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0) || value > 1e6)
        return false;
    out = value;
    return true;
}

}  // namespace

const char* usageText() {
    return "usage:\n"
           "  miravo-server --data DIR [--port N] [--version-port N] [--log-requests DIR] "
           "[--demo]\n"
           "                [--host ADDR] [--path /api2/proxy.php] [--quiet] [--threads N]\n"
           "                [--head-deadline MS] [--idle-timeout MS] [--max-connections N]\n"
           "                [--login-hold-max MS]\n"
           "                [--min-poll-interval MS] [--delivery-time MS] [--rate AMOUNT]\n"
           "                [--max-body BYTES] [--max-field BYTES] [--max-parts N]\n"
           "                [--max-destinations N] [--max-pages N]\n"
           "                [--newest-version V] [--download-url URL]\n"
           "                [--fault RULE]... [--fault-plan FILE]\n"
           "  miravo-server user add --data DIR NAME PASSWORD [--credit AMOUNT]\n"
           "  miravo-server user disable --data DIR NAME\n"
           "  miravo-server contact add --data DIR USER NAME NUMBER [--gsm N] [--group G]\n"
           "  miravo-server --help | --version\n"
           "See server/README.md for the fault rules and everything else.\n";
}

bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    std::vector<std::string> positional;
    std::size_t i = 0;
    if (args.size() >= 2 && args[0] == "user" && args[1] == "add") {
        o.command = Command::UserAdd;
        i = 2;
    } else if (args.size() >= 2 && args[0] == "user" && args[1] == "disable") {
        o.command = Command::UserDisable;
        i = 2;
    } else if (args.size() >= 2 && args[0] == "contact" && args[1] == "add") {
        o.command = Command::ContactAdd;
        i = 2;
    }
    auto value = [&](const std::string& name, std::string& out) {
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return false;
        }
        out = args[++i];
        return true;
    };
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        auto bad = [&] {
            error = "bad value for " + a + ": \"" + v + "\"";
            return false;
        };
        if (a == "--help" || a == "-h") {
            o.command = Command::Help;
            return true;
        } else if (a == "--version") {
            o.command = Command::Version;
            return true;
        } else if (a == "--demo") {
            o.demo = true;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a.rfind("--", 0) == 0) {
            if (!value(a, v))
                return false;
            if (a == "--data")
                o.dataDir = v;
            else if (a == "--host")
                o.host = v;
            else if (a == "--port") {
                if (!number(v, o.port, 0, 65535))
                    return bad();
            } else if (a == "--version-port") {
                if (!number(v, o.versionPort, -1, 65535))
                    return bad();
            } else if (a == "--path") {
                if (v.empty())
                    return bad();
                o.objectPath = v.front() == '/' ? v : "/" + v;
            } else if (a == "--log-requests")
                o.requestLogDir = v;
            else if (a == "--threads") {
                if (!number(v, o.threads, 4, 1024))
                    return bad();
            } else if (a == "--head-deadline") {
                long ms = 0;
                if (!number<long>(v, ms, 100, 60000))
                    return bad();
                o.front.headDeadline = std::chrono::milliseconds(ms);
            } else if (a == "--idle-timeout") {
                long ms = 0;
                if (!number<long>(v, ms, 100, 600000))
                    return bad();
                o.front.idleTimeout = std::chrono::milliseconds(ms);
            } else if (a == "--max-connections") {
                if (!number<std::size_t>(v, o.front.maxConnections, 16, 4096))
                    return bad();
            } else if (a == "--login-hold-max") {
                if (!number<std::int64_t>(v, o.service.throttle.maxHoldMs, 100, 86400000))
                    return bad();
            } else if (a == "--min-poll-interval") {
                if (!number<std::int64_t>(v, o.service.minPollIntervalMs, 0, 3600000))
                    return bad();
            } else if (a == "--delivery-time") {
                if (!number<std::int64_t>(v, o.service.deliveryMs, 0, 86400000))
                    return bad();
            } else if (a == "--rate") {
                if (!money(v, o.service.rate))
                    return bad();
            } else if (a == "--max-body") {
                if (!number<std::size_t>(v, o.maxBodyBytes, 1024, std::size_t(1) << 31))
                    return bad();
            } else if (a == "--max-field") {
                if (!number<std::size_t>(v, o.maxFieldBytes, 6000, std::size_t(1) << 24))
                    return bad();
            } else if (a == "--max-parts") {
                if (!number<std::size_t>(v, o.maxParts, 16, 1000000))
                    return bad();
            } else if (a == "--max-destinations") {
                if (!number<std::size_t>(v, o.service.maxDestinations, 1, 100000))
                    return bad();
            } else if (a == "--max-pages") {
                if (!number(v, o.service.maxPages, 1, 10000))
                    return bad();
            } else if (a == "--newest-version")
                o.newestVersion = v;
            else if (a == "--download-url")
                o.downloadUrl = v;
            else if (a == "--fault")
                o.faults.push_back(v);
            else if (a == "--fault-plan")
                o.faultPlan = v;
            else if (a == "--credit") {
                if (!money(v, o.credit))
                    return bad();
            } else if (a == "--gsm")
                o.contactGsm = v;
            else if (a == "--group")
                o.contactGroup = v;
            else {
                error = "unknown option " + a;
                return false;
            }
        } else {
            positional.push_back(a);
        }
    }
    if (o.dataDir.empty()) {
        error = "--data DIR is required";
        return false;
    }
    o.service.dataDir = o.dataDir;
    switch (o.command) {
        case Command::UserAdd:
            if (positional.size() != 2 || positional[0].empty() || positional[1].empty()) {
                error = "user add needs NAME and PASSWORD";
                return false;
            }
            o.user = positional[0];
            o.password = positional[1];
            return true;
        case Command::UserDisable:
            if (positional.size() != 1) {
                error = "user disable needs NAME";
                return false;
            }
            o.user = positional[0];
            return true;
        case Command::ContactAdd:
            if (positional.size() != 3 || positional[2].empty()) {
                error = "contact add needs USER, NAME and NUMBER";
                return false;
            }
            o.user = positional[0];
            o.contactName = positional[1];
            o.contactNumber = positional[2];
            return true;
        default:
            if (!positional.empty()) {
                error = "unexpected argument " + positional.front();
                return false;
            }
            return true;
    }
}

}  // namespace miravo::server
