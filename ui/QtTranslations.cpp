#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace miravo::ui {

namespace {

struct Installed {
    std::u16string code;
    std::unique_ptr<QTranslator> translator;
};

Installed& installed() {
    static Installed current;
    return current;
}

}  // namespace

QString QtTranslationsFolder() {
    const QString configured = qEnvironmentVariable("MIRAVO_QT_TRANSLATIONS");
    return configured.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : configured;
}

bool ApplyQtTranslations(const std::u16string& languageCode) {
    Installed& current = installed();
    if (!QCoreApplication::instance())
        return false;
    if (languageCode == current.code)
        return current.translator != nullptr;
    current.code = languageCode;
    if (current.translator) {
        QCoreApplication::removeTranslator(current.translator.get());
        current.translator.reset();
    }
    const QString code = QString::fromStdU16String(languageCode);
    // Locale-aware parts of Qt (the file dialog's dates and sizes) follow too.
    QLocale::setDefault(QLocale(code));
    // "qt_" bundles qtbase with the other modules where a language has
    // it; "qtbase_" is what every language of Qt's translations has.
    auto translator = std::make_unique<QTranslator>();
    const QString folder = QtTranslationsFolder();
    if (!translator->load(QStringLiteral("qt_") + code, folder) &&
        !translator->load(QStringLiteral("qtbase_") + code, folder))
        return false;
    QCoreApplication::installTranslator(translator.get());
    current.translator = std::move(translator);
    return true;
}

}  // namespace miravo::ui
