// miravo-server: the fax service the client talks to, run locally.
#include <QGuiApplication>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/CommandLine.h"
#include "server/Certificates.h"
#include "server/DataFolder.h"
#include "server/Faults.h"
#include "server/HttpFront.h"
#include "server/Options.h"
#include "server/Passwords.h"
#include "server/RequestLog.h"
#include "server/Service.h"
#include "server/Store.h"

using namespace miravo::server;

namespace {

constexpr const char* kDemoLogin = "demo@miravo.test";
constexpr const char* kDemoPassword = "demo";

int fail(const std::string& message) {
    std::fprintf(stderr, "miravo-server: %s\n", message.c_str());
    return 1;
}

bool openStore(const Options& options, Store& store, std::string& error) {
    if (!preparePrivateFolder(options.dataDir, error))
        return false;
    return store.open(options.dataDir / "miravo.db", error);
}

void addDemoAccount(Store& store) {
    if (store.findAccount(kDemoLogin))
        return;
    store.addAccount(kDemoLogin, hashPassword(kDemoPassword), 100.0);
    auto account = store.findAccount(kDemoLogin);
    if (!account)
        return;
    store.addContact(account->id, "Anna Berger", "+49 30 1234567", "+49 170 1234567", "");
    store.addContact(account->id, "Office Paris", "+33 1 42 00 00 11", "", "");
    store.addContact(account->id, "Sales North", "+44 20 7946 0018", "", "Sales");
    store.addContact(account->id, "Sales South", "+44 20 7946 0029", "", "Sales");
}

int userCommand(const Options& options) {
    Store store;
    std::string error;
    if (!openStore(options, store, error))
        return fail(error);
    switch (options.command) {
        case Command::UserAdd:
            switch (
                store.addAccount(options.user, hashPassword(options.password), options.credit)) {
                case StoreResult::Ok:
                    std::printf("account %s added\n", options.user.c_str());
                    return 0;
                case StoreResult::Exists:
                    return fail("account " + options.user + " exists already");
                default:
                    return fail("cannot add the account");
            }
        case Command::UserDisable:
            if (store.setDisabled(options.user, true) != StoreResult::Ok)
                return fail("no account " + options.user);
            std::printf("account %s disabled\n", options.user.c_str());
            return 0;
        case Command::ContactAdd: {
            auto account = store.findAccount(options.user);
            if (!account)
                return fail("no account " + options.user);
            if (store.addContact(account->id, options.contactName, options.contactNumber,
                                 options.contactGsm, options.contactGroup) != StoreResult::Ok)
                return fail("cannot add the contact");
            std::printf("contact added\n");
            return 0;
        }
        default:
            return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!parseOptions(args, options, error)) {
        std::fprintf(stderr, "miravo-server: %s\n%s", error.c_str(), usageText());
        return 2;
    }
    if (options.command == Command::Help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (options.command == Command::Version) {
        miravo::PrintVersion(stdout, "miravo-server");
        return 0;
    }
    // Everything the service writes (database, keys, faxes, request logs)
    // is this user's alone.
    ::umask(077);
    if (options.command != Command::Serve)
        return userCommand(options);

    // Signals go to one thread that waits for them; every other thread,
    // created from here on, keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // Cover pages are drawn with QPainter; fonts need a GUI application,
    // which needs no display on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication app(qtArgc, qtArgv);

    Store store;
    FolderLock lock;
    if (!preparePrivateFolder(options.dataDir, error) || !lock.acquire(options.dataDir, error) ||
        !store.open(options.dataDir / "miravo.db", error))
        return fail(error);
    if (!ensureCertificates(options.dataDir, error))
        return fail(error);
    FaultPlan faults;
    for (const std::string& rule : options.faults) {
        if (!faults.add(rule, error))
            return fail(error);
    }
    if (!options.faultPlan.empty() && !faults.load(options.faultPlan, error))
        return fail(error);
    RequestLog log(options.requestLogDir, options.quiet);
    if (!log.prepare(error))
        return fail(error);
    if (options.demo)
        addDemoAccount(store);

    Service service(store, options.service);
    HttpFront front(options, service, faults, log);
    if (!front.start(error))
        return fail(error);
    VersionPage versionPage(options);
    if (options.versionPort >= 0 && !versionPage.start(error))
        return fail(error);

    std::printf("miravo-server: data folder %s\n", options.dataDir.c_str());
    std::printf("miravo-server: CA certificate %s\n",
                certificateFiles(options.dataDir).caCert.c_str());
    if (options.demo)
        std::printf("miravo-server: demo account %s, password %s\n", kDemoLogin, kDemoPassword);
    for (const FaultRule& rule : faults.rules())
        std::printf("miravo-server: fault %s\n", describe(rule).c_str());
    if (options.versionPort >= 0)
        std::printf("miravo-server: version page http://%s:%d/miravoprinter/version.php\n",
                    options.host.c_str(), versionPage.port());
    std::printf("miravo-server: listening on https://%s:%d%s\n", options.host.c_str(), front.port(),
                options.objectPath.c_str());
    std::fflush(stdout);

    std::thread signalThread([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        front.stop();
    });
    const bool served = front.run();
    front.stop();
    // Wake the signal thread if the front ended by itself.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    versionPage.stop();
    store.close();
    std::printf("miravo-server: stopped after %ld requests\n", log.count());
    std::fflush(stdout);
    return served ? 0 : fail("cannot take the port again");
}
