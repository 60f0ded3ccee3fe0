#include "ui/OpenFaxOffer.h"

#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <algorithm>

#include "ui/OpenFaxPublication.h"

namespace miravo::ui {

namespace {

// How long an open fax may take to answer.
constexpr int kAnswerMilliseconds = 3000;

// "file://" and the absolute path, every byte but letters, digits and
// "-._~/" percent-encoded.
QString fileUri(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    QString uri = QStringLiteral("file://");
    for (const unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += QChar(c);
        } else {
            uri += QChar('%');
            uri += QChar(hex[c >> 4]);
            uri += QChar(hex[c & 15]);
        }
    }
    return uri;
}

QDBusMessage callFax(QDBusConnection& bus, const QString& busName, const QString& method,
                     const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(busName, OpenFaxPath(busName),
                                                       QString::fromLatin1(kOpenFaxInterface),
                                                       method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, kAnswerMilliseconds);
}

}  // namespace

std::vector<OpenFaxOnBus> FindOpenFaxes(QDBusConnection bus) {
    std::vector<OpenFaxOnBus> faxes;
    if (!bus.isConnected())
        return faxes;
    const QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
    if (!names.isValid())
        return faxes;
    QStringList ours;
    for (const QString& name : names.value()) {
        if (!name.startsWith(QString::fromLatin1(kOpenFaxNamePrefix)))
            continue;
        const QDBusReply<uint> uid = bus.interface()->serviceUid(name);
        if (uid.isValid() && uid.value() == ::geteuid())
            ours << name;
    }
    ours.sort();
    for (const QString& name : ours) {
        const QDBusMessage reply = callFax(bus, name, QStringLiteral("Description"));
        if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1)
            faxes.push_back({name, reply.arguments().front().toString()});
    }
    return faxes;
}

bool AddToOpenFax(QDBusConnection bus, const QString& busName,
                  const std::vector<std::string>& files) {
    QStringList uris;
    for (const std::string& file : files)
        uris << fileUri(file);
    const QDBusMessage reply =
        callFax(bus, busName, QStringLiteral("AddDocuments"), {QVariant(uris)});
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool OfferToOpenFax(QDBusConnection bus, const std::vector<std::string>& files,
                    const ChooseOpenFax& choose) {
    if (files.empty())
        return false;
    const std::vector<OpenFaxOnBus> faxes = FindOpenFaxes(bus);
    if (faxes.empty())
        return false;
    const std::optional<std::size_t> chosen = choose(faxes);
    if (!chosen || *chosen >= faxes.size())
        return false;
    return AddToOpenFax(bus, faxes[*chosen].busName, files);
}

}  // namespace miravo::ui
