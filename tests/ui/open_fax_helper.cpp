// Stands in for a program with an open fax in the open-fax tests: publishes
// a fax described by its argument on the session bus, says "ready", and
// writes one line per addDocuments call ("added A|B"). "withdraw" on its
// input withdraws the fax.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

#include "ui/OpenFaxPublication.h"

namespace {

class FakeOpenFax : public miravo::ui::OpenFax {
  public:
    explicit FakeOpenFax(QString description) : description_(std::move(description)) {}
    QString description() const override { return description_; }
    void addDocuments(const QStringList& files) override {
        std::printf("added %s\n", files.join('|').toLocal8Bit().constData());
        std::fflush(stdout);
    }

  private:
    QString description_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    FakeOpenFax fax(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("fax"));
    auto publication = miravo::ui::PublishOpenFax(fax);
    if (!publication->published())
        return 1;
    std::printf("ready %s\n", publication->busName().toLatin1().constData());
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[64] = {};
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            application.quit();
            return;
        }
        if (std::string_view(line).rfind("withdraw", 0) == 0) {
            publication.reset();
            std::printf("withdrawn\n");
            std::fflush(stdout);
        }
    });
    return application.exec();
}
