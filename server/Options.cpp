#include "server/Options.h"

#include "app/CommandLine.h"

#include <charconv>
#include <chrono>
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

namespace {

// A value the option cannot take: the parser stops with this message.
[[noreturn]] void refuse(const std::string& option, const std::string& value) {
    throw CLI::ValidationError("bad value for " + option + ": \"" + value + "\"");
}

// Whole decimal numbers within [low, high] only ("010" is ten, "0x10" is no number).
template <typename T>
void numberOption(CLI::App& app, const std::string& name, T& out, T low, T high) {
    app.add_option_function<std::string>(name, [name, &out, low, high](const std::string& v) {
        if (!number(v, out, low, high))
            refuse(name, v);
    });
}

void millisecondsOption(CLI::App& app, const std::string& name, std::chrono::milliseconds& out,
                        long low, long high) {
    app.add_option_function<std::string>(name, [name, &out, low, high](const std::string& v) {
        long ms = 0;
        if (!number(v, ms, low, high))
            refuse(name, v);
        out = std::chrono::milliseconds(ms);
    });
}

void moneyOption(CLI::App& app, const std::string& name, double& out) {
    app.add_option_function<std::string>(name, [name, &out](const std::string& v) {
        if (!money(v, out))
            refuse(name, v);
    });
}

// The command words come first: "user add", "user disable", "contact add".
std::size_t readCommand(const std::vector<std::string>& args, Command& command) {
    if (args.size() < 2)
        return 0;
    if (args[0] == "user" && args[1] == "add")
        command = Command::UserAdd;
    else if (args[0] == "user" && args[1] == "disable")
        command = Command::UserDisable;
    else if (args[0] == "contact" && args[1] == "add")
        command = Command::ContactAdd;
    else
        return 0;
    return 2;
}

bool takePositional(Options& o, const std::vector<std::string>& positional, std::string& error) {
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

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    const std::size_t first = readCommand(args, o.command);

    CommandLine line("miravo-server");
    CLI::App& app = line.app;
    app.add_flag("--demo", o.demo);
    app.add_flag("--quiet", o.quiet);
    app.add_option("--data", o.dataDir);
    app.add_option("--host", o.host);
    numberOption(app, "--port", o.port, 0, 65535);
    numberOption(app, "--version-port", o.versionPort, -1, 65535);
    app.add_option_function<std::string>("--path", [&o](const std::string& v) {
        if (v.empty())
            refuse("--path", v);
        o.objectPath = v.front() == '/' ? v : "/" + v;
    });
    app.add_option("--log-requests", o.requestLogDir);
    numberOption(app, "--threads", o.threads, 4, 1024);
    millisecondsOption(app, "--head-deadline", o.front.headDeadline, 100, 60000);
    millisecondsOption(app, "--idle-timeout", o.front.idleTimeout, 100, 600000);
    numberOption<std::size_t>(app, "--max-connections", o.front.maxConnections, 16, 4096);
    numberOption<std::int64_t>(app, "--login-hold-max", o.service.throttle.maxHoldMs, 100,
                               86400000);
    numberOption<std::int64_t>(app, "--min-poll-interval", o.service.minPollIntervalMs, 0,
                               3600000);
    numberOption<std::int64_t>(app, "--delivery-time", o.service.deliveryMs, 0, 86400000);
    moneyOption(app, "--rate", o.service.rate);
    numberOption<std::size_t>(app, "--max-body", o.maxBodyBytes, 1024, std::size_t(1) << 31);
    numberOption<std::size_t>(app, "--max-field", o.maxFieldBytes, 6000, std::size_t(1) << 24);
    numberOption<std::size_t>(app, "--max-parts", o.maxParts, 16, 1000000);
    numberOption<std::size_t>(app, "--max-destinations", o.service.maxDestinations, 1, 100000);
    numberOption(app, "--max-pages", o.service.maxPages, 1, 10000);
    app.add_option("--newest-version", o.newestVersion);
    app.add_option("--download-url", o.downloadUrl);
    app.add_option("--fault", o.faults)
        ->expected(1)
        ->allow_extra_args(false)  // one rule each; what follows is an argument
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--fault-plan", o.faultPlan);
    moneyOption(app, "--credit", o.credit);
    app.add_option("--gsm", o.contactGsm);
    app.add_option("--group", o.contactGroup);
    std::vector<std::string> positional;
    app.add_option("arguments", positional);

    if (!line.parse({args.begin() + static_cast<long>(first), args.end()}, error))
        return false;
    if (line.answered()) {
        o.command = line.help ? Command::Help : Command::Version;
        return true;
    }
    if (o.dataDir.empty()) {
        error = "--data DIR is required";
        return false;
    }
    o.service.dataDir = o.dataDir;
    return takePositional(o, positional, error);
}

}  // namespace miravo::server
