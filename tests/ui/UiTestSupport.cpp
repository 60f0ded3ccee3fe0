#include "tests/ui/UiTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "app/LanguageTable.h"
#include "app/Paths.h"

namespace miravo::ui::test {

UiTest::UiTest() : state_(std::make_unique<AppState>()) {
    OverrideApplicationDataFolder(FromFsPath(data_.path()));
    // The sent-fax journal too stays in the test's folder.
    ::setenv("XDG_DATA_HOME", (data_.path() / "data").c_str(), 1);
    const std::u16string bin = FromFsPath(std::filesystem::path(MIRAVO_BINARY_DIR) / "bin") + u"/";
    paths_.moduleFolder = bin;
    paths_.languageFile = bin + u"lang.ini";
    paths_.languageCode = u"en";
    paths_.state = state_.get();
    state_->settings.versionHost.clear();  // no version check in tests
    state_->settings.logoPath = bin + u"images/en_logo.gif";
    LoadLanguage(state_->language, paths_.languageFile, u"en");
}

UiTest::~UiTest() {
    OverrideApplicationDataFolder(std::nullopt);
}

void click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString() << " is disabled";
    QTest::mouseClick(button, Qt::LeftButton);
}

void click(const QWidget* dialog, int id) {
    click(find<QAbstractButton>(dialog, id));
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

std::shared_ptr<bool> whenModal(const QString& name, std::function<void(QDialog*)> act,
                                int timeoutMs) {
    auto fired = std::make_shared<bool>(false);
    auto* poll = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [=]() {
        if (clock->elapsed() > timeoutMs) {
            poll->deleteLater();
            return;
        }
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != name || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        *fired = true;
        act(dialog);
    });
    poll->start();
    return fired;
}

void closeDiscardingWork(QWidget* dialog) {
    whenModal(
        "discardWork",
        [](QDialog* box) {
            if (auto* discard = box->findChild<QAbstractButton*>("discard"))
                discard->click();
        },
        2000);
    QTest::keyClick(dialog, Qt::Key_Escape);
}

PrivateSessionBus::PrivateSessionBus() {
    config_.open();
    config_.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow user="*"/><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>)");
    config_.flush();
    daemon_.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config_.fileName(),
                                                  "--nofork", "--nopidfile", "--print-address=1"});
    if (daemon_.waitForReadyRead(10000))
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateSessionBus::~PrivateSessionBus() {
    QDBusConnection::disconnectFromBus(QStringLiteral("private-session-bus"));
    daemon_.kill();
    daemon_.waitForFinished();
}

QDBusConnection PrivateSessionBus::connect() const {
    return QDBusConnection::connectToBus(address_, QStringLiteral("private-session-bus"));
}

}  // namespace miravo::ui::test
