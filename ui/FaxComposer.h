// The fax the send dialog composes: the documents the user printed, chose
// or dropped, each converted once and kept in a folder of its own, and
// their pages in the order the user gave them. The one fax document the
// send and the preview read (the record's documentPath) is made from the
// kept conversions when it is asked for, only when the pages changed.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "convert/FaxPages.h"
#include "printmon/PrintJob.h"

class QWidget;

namespace miravo {
struct AppPaths;
}

namespace miravo::ui {

class FaxComposer : public QObject {
    Q_OBJECT
  public:
    // Takes the record's converted document, when there is one, as the
    // fax's first document, named `firstName`.
    FaxComposer(AppPaths& paths, QWidget* owner, const QString& firstName);
    ~FaxComposer() override;  // removes the files of the documents it converted

    FaxPages& pages() { return pages_; }
    const FaxPages& pages() const { return pages_; }

    // Converts each file (a printed job file or a document) as choosing it
    // does and adds its pages at the end, in order. Stops at the first
    // that cannot be converted or would pass the page limit, telling the
    // user why; the number of files added.
    int add(const QStringList& files);

    // Makes the record's documentPath the fax as its pages stand now;
    // false (the user told why) when it cannot be made.
    bool makeDocument();

    // The documents with their pages in the fax, as one line.
    QString description() const;

    // Tells listeners that the pages were edited from outside (the view).
    void edited() { emit changed(); }

  signals:
    void changed();

  private:
    struct Owned {
        std::u16string runFolder;
        std::optional<print::PrintResult> printed;
    };
    // Converts one file into a fax document of its own; false (the user
    // told why) when it cannot.
    bool convert(const QString& file, FaxDocument& document, Owned& owned);
    void release(const Owned& owned);

    AppPaths& paths_;
    QWidget* owner_;
    FaxPages pages_;
    std::vector<Owned> owned_;       // what each added document left on disk
    std::u16string composedFolder_;  // where the composed fax goes
    std::u16string composed_;        // the last composed fax
    unsigned composedRevision_ = 0;
    bool composedOnce_ = false;
};

}  // namespace miravo::ui
